// The plug-in behind mirelo-server, in worker processes of its own: each worker hosts the
// plug-in (its own engine, cache and dictionary) and translates one line at a time. The
// server itself never loads the plug-in. Lines wait in a bounded queue and go to whichever
// worker is idle, taken from the waiting requests in turn. The pool behind this interface is
// in parts: batch.h (a request's lines), scheduler.h (queues, turns, admission), game_turns.h
// (which worker serves which game), supervisor.h (each worker's life), restart_limit.h (how
// soon workers may start again), launcher.h (processes), recent_answers.h and line_record.h
// (what it remembers of lines).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"

namespace server {

struct TranslatorStats {
    uint64_t linesServed = 0;   // lines answered to clients, whatever their outcome
    uint64_t pluginCalls = 0;   // Translate calls that returned 1
    uint64_t cacheHits = 0;     // of those, answered from the plug-in's cache (see README)
    uint64_t recentHits = 0;    // pieces answered by the server itself, asked again at once
    uint64_t lineAnswers = 0;   // pieces answered by the server itself from a `line` entry
    uint64_t engineLines = 0;   // of those, passed on to the engine
    double engineMillis = 0;    // time in Translate for the engine lines
    uint64_t untranslated = 0;  // engine lines answered with the destination untouched
    uint64_t timedOut = 0;      // pieces not answered in time (Translate 0, or never started)
    uint64_t rejectedBusy = 0;  // requests turned away because the queue was full
    uint64_t cancelled = 0;     // pieces not sent because their client had gone
    uint64_t quarantined = 0;   // pieces answered failed: their line ends workers
    uint64_t hungAnswers = 0;   // pieces answered failed at once: their line hung an engine
    std::size_t queued = 0;     // pieces waiting now, not yet in a worker's hand
    std::size_t capacity = 0;
    std::size_t workers = 0;  // worker processes whose plug-in is ready
};

// One worker process as /status shows it.
struct WorkerStatus {
    unsigned long pid = 0;  // 0 while it has no process
    std::string state;      // "starting", "idle", "busy", "restarting" or "down"
    uint64_t lines = 0;     // lines it answered, over all its processes
    unsigned restarts = 0;  // processes ended and replaced
    std::string lastFault;  // why its last process ended or could not start; empty if never
    std::string game;       // whose own entries it applies (folded); empty: the common ones
};

class WorkerPool;
struct PoolSnapshot;
class LineAnswers;

class Translator {
  public:
    // kRetrying: no worker has started yet, the plug-in's start failed in a way that the
    // user can put right (no engine where it looked), and it is tried again now and then.
    enum class State { kStarting, kReady, kFailed, kRetrying };
    // kAnswered: every piece was answered at once, from answers given a moment ago or as a
    // line known to fail; nothing is handed back. A large batch is checked for that on the
    // pool's thread instead, so that Submit takes a moment whatever its size: queued, it may
    // then be handed back without a worker, or, when there was no room for it, Refused().
    enum class Admit { kQueued, kAnswered, kNotReady, kFull };
    using Clock = std::chrono::steady_clock;

    struct Config {
        std::wstring program;  // the executable that runs as a worker with --worker
        std::wstring plugin;
        std::string options;  // at most 15 bytes
        std::size_t queueCapacity = 20000;
        unsigned workers = 1;
        std::function<void(const PoolEvent&)> onEvent;  // may be empty
        // The game the workers start for (folded); they go over to others as requests ask.
        std::string game;
        // Answers lines that `line` entries hold without a worker; may be null. Outlives the
        // translator.
        const LineAnswers* lines = nullptr;
    };

    explicit Translator(Config config);
    ~Translator();
    Translator(const Translator&) = delete;
    Translator& operator=(const Translator&) = delete;

    // Runs for kReady and kFailed once, and for kRetrying each time the reason changes.
    using Started = std::function<void(State, StartKind, const std::string& message)>;
    // Runs on the pool's thread once every piece of its batch has an outcome: there the
    // batch leaves that thread. It hands the batch over to the thread of whoever submitted it
    // (taking along what it holds of them), must not throw, and is dropped on the pool's
    // thread, or at Stop, once it has run.
    using HandBack = std::function<void()>;

    // Starts the workers one after another; `started` runs on the pool's thread once the
    // first one is ready or has failed (with a one-line message).
    void Start(Started started);

    // Pieces not begun by `deadline` are not sent and count as timed out. kFull when the
    // pieces waiting and these would be more than the capacity; a batch over half the
    // capacity counts as half, so that it never shuts out the requests after it, and is
    // taken whenever no other such batch waits. kNotReady also while no worker has been able
    // to take a line for a while (Problem() says why). `handBack` is then dropped on the
    // caller's thread, as with kAnswered.
    Admit Submit(std::shared_ptr<Batch> batch, Clock::time_point deadline, HandBack handBack);

    // Lets the lines in hand finish, drops the rest and ends the workers, which close their
    // plug-ins.
    void Stop();

    // Quarantined and hung lines are forgotten, and so are the answers given a moment ago.
    // Any thread.
    void DictionaryChanged();

    // One consistent picture for /status, taken in one locked step.
    PoolSnapshot Snapshot() const;
    State GetState() const;
    // Why the workers cannot start just now (empty when nothing is known to be wrong).
    std::string Problem() const;
    void CountServed(std::size_t lines);
    // The worker being started now (whose plug-in may be asking the user something), or 0.
    unsigned long StartingProcess() const;

  private:
    std::unique_ptr<WorkerPool> m_pool;
};

struct PoolSnapshot {
    Translator::State state = Translator::State::kStarting;
    std::string problem;
    unsigned pausedSeconds = 0;  // left of a pause of worker starts, or 0
    TranslatorStats stats;
    std::vector<WorkerStatus> workers;
    std::vector<std::string> quarantined;       // UTF-8: each ended a worker, then a fresh one
    std::vector<std::string> quarantinedGames;  // beside each, its game (UTF-8, folded)
};

}  // namespace server

// The plug-in behind mirelo-server: one thread of its own loads it, starts it and feeds it
// the lines of every request in arrival order from a bounded queue.
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

namespace host {
class HostWindow;
class PluginHost;
}  // namespace host

namespace server {

// Worse outcomes come later: a text takes the worst of its pieces.
enum class Outcome { kTranslated, kUntranslated, kTimedOut };

// One request's texts, cut into the pieces the plug-in takes and put back together after.
class Batch {
  public:
    // Each text is valid UTF-8 and may hold several lines; each line is translated on its own,
    // what Shift-JIS cannot carry is kept in place, and a line over the plug-in's limit is cut.
    explicit Batch(const std::vector<std::string>& texts);

    struct Result {
        Outcome outcome;
        std::string text;  // the translation; the source itself when not kTranslated
    };
    std::size_t TextCount() const { return m_texts.size(); }
    std::size_t LineCount() const { return m_lines; }
    std::size_t PieceCount() const { return m_pieces.size(); }
    Result Get(std::size_t text) const;

  private:
    friend class Translator;
    struct Piece {
        std::string sjis;
        std::string answer;  // UTF-8
        Outcome outcome = Outcome::kTimedOut;
    };
    struct Part {
        std::size_t piece;  // kKept: `kept` stands as it is
        std::string kept;
    };
    struct Text {
        std::string source;
        std::vector<Part> parts;
    };
    static constexpr std::size_t kKept = static_cast<std::size_t>(-1);
    std::vector<Piece> m_pieces;
    std::vector<Text> m_texts;
    std::size_t m_lines = 0;
};

struct TranslatorStats {
    uint64_t linesServed = 0;   // lines answered to clients, whatever their outcome
    uint64_t pluginCalls = 0;   // Translate calls that returned 1
    uint64_t cacheHits = 0;     // of those, answered from the plug-in's cache (see README)
    uint64_t engineLines = 0;   // of those, passed on to the engine
    double engineMillis = 0;    // time in Translate for the engine lines
    uint64_t untranslated = 0;  // engine lines answered with the destination untouched
    uint64_t timedOut = 0;      // pieces not answered in time (Translate 0, or never started)
    uint64_t rejectedBusy = 0;  // requests turned away because the queue was full
    std::size_t queued = 0;     // pieces waiting now
    std::size_t capacity = 0;
};

class Translator {
  public:
    enum class State { kStarting, kReady, kFailed };
    enum class Admit { kQueued, kNotReady, kFull };
    using Clock = std::chrono::steady_clock;

    struct Config {
        std::wstring plugin;
        std::string options;  // at most 15 bytes
        std::size_t queueCapacity = 20000;
    };

    explicit Translator(Config config);
    ~Translator();
    Translator(const Translator&) = delete;
    Translator& operator=(const Translator&) = delete;

    using Started = std::function<void(State, const std::string&)>;
    // Runs on the plug-in's thread once every piece of its batch has an outcome: there the
    // batch leaves that thread. It hands the batch over to the thread of whoever submitted it
    // (taking along what it holds of them), must not throw, and is dropped on the plug-in's
    // thread, or at Stop, once it has run.
    using HandBack = std::function<void()>;

    // Starts the plug-in's thread; `started` runs on it once the plug-in is ready or has failed
    // (with a one-line message).
    void Start(Started started);

    // Pieces not begun by `deadline` are not sent and count as timed out. kFull when the
    // pieces waiting and these would be more than the capacity (a batch alone is always
    // taken); `handBack` is then dropped on the caller's thread.
    Admit Submit(std::shared_ptr<Batch> batch, Clock::time_point deadline, HandBack handBack);

    // Finishes the line in hand, drops the rest, closes the plug-in and unloads it.
    void Stop();

    State GetState() const;
    TranslatorStats GetStats() const;
    void CountServed(std::size_t lines);

  private:
    struct Job {
        std::shared_ptr<Batch> batch;
        Clock::time_point deadline;
        HandBack handBack;
    };
    class Caller;

    // All of these run on the plug-in's thread.
    void Run(const Started& started);
    // Empty when the plug-in is ready, else why it is not (it is closed again then).
    std::string StartPlugin(host::HostWindow& window, host::PluginHost& plugin);
    void SetState(State state, const Started& started, const std::string& message = {});
    void Serve(host::HostWindow& window, host::PluginHost& plugin);
    // The next job in arrival order, handling the window's messages while it waits; nullopt
    // once stopping.
    std::optional<Job> NextJob(host::HostWindow& window);
    TranslatorStats TranslateBatch(Batch& batch, Clock::time_point deadline, Caller& caller);
    void Count(const Batch& batch, const TranslatorStats& tally);

    const Config m_config;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::size_t m_pending = 0;  // pieces in m_queue
    std::atomic<bool> m_stopping{false};
    State m_state = State::kStarting;
    TranslatorStats m_stats;
    std::thread m_thread;
};

}  // namespace server

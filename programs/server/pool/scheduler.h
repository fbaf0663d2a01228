// Which line goes to a worker next, and the requests those lines belong to: admission into the
// bounded queue, turns between requests, identical lines joined into one trip, lines known to
// fail answered at once. Holds no lock of its own and never waits: every member runs under
// the pool's lock (see supervisor.h), from the HTTP I/O thread (Submit, the readers) and the
// pool's thread (the rest).
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "frames.h"
#include "game_turns.h"
#include "line_record.h"
#include "recent_answers.h"
#include "translator.h"

namespace server {

class LineAnswers;

// One request in the queue.
struct PoolJob {
    std::shared_ptr<Batch> batch;
    Translator::Clock::time_point deadline;
    Translator::HandBack handBack;
    Translator::Clock::time_point since;  // when it was queued
    std::size_t next = 0;                 // the first piece not yet taken
    std::size_t open = 0;                 // pieces without an outcome
    // A large batch is checked for answers that need no worker a step at a time; meanwhile
    // none of its pieces goes to a worker. Pieces before `next` hold the answers found.
    struct Screen {
        std::size_t next = 0;
        std::size_t recent = 0, quarantined = 0, hung = 0, corrected = 0;
    };
    std::optional<Screen> screen;
    bool queued = false;  // counted in the queue; a screened batch may wait for room outside

    std::size_t Unsent() const { return batch->PieceCount() - next; }
};

// A line on its way to a worker, or in its hand: every piece with this text, of any request.
struct Task {
    std::string sjis;
    std::string game;  // whose workers may take it
    std::string key;   // LineKey(game, sjis)
    std::vector<std::pair<std::shared_ptr<PoolJob>, std::size_t>> waiters;
    // It was in hand when a worker ended by itself: it goes to a fresh worker only, and is
    // quarantined if that one ends too.
    bool suspect = false;
    bool knownGood = false;
};

class Scheduler {
  public:
    using Clock = Translator::Clock;

    // A batch of up to this many pieces is checked whole for answers that need no worker as
    // it comes in; a larger one in steps of kScreenStep, so that the lock is held for moments.
    static constexpr std::size_t kScreenAtOnce = 256;
    static constexpr std::size_t kScreenStep = 1024;

    // `lines`, when given, answers the lines its `line` entries hold before any worker would;
    // it must outlive the scheduler.
    explicit Scheduler(std::size_t capacity, const LineAnswers* lines = nullptr);

    // kAnswered, kQueued or kFull; the caller has settled kNotReady. Takes time in proportion
    // to the batch only up to kScreenAtOnce pieces.
    Translator::Admit Submit(std::shared_ptr<Batch> batch, Clock::time_point deadline,
                             Translator::HandBack handBack);

    // The next line for a worker. `fresh`: its process has answered nothing yet, so it may
    // take a suspect line. `preferKnown`: lines known to be answered go first (another worker
    // is on a line never answered, which may hang, or away); `allowUnknown`: other lines may go.
    // Only lines of `game` go: a worker's plug-in applies that game's entries alone.
    std::shared_ptr<Task> Next(bool fresh, bool preferKnown, bool allowUnknown,
                               Clock::time_point now, const std::string& game = {});
    // A batch of up to kScreenAtOnce pieces that `line` entries answer whole, answered: those
    // need no engine, so they are answered while no worker can take a line too.
    bool AnswerCorrected(Batch& batch);
    // One step of checking large batches for answers that need no worker; a batch answered
    // whole is done. True while more steps remain.
    bool Screen(Clock::time_point now);
    // Games with lines waiting to be sent, each with when its longest-waiting request came.
    std::vector<std::pair<std::string, Clock::time_point>> Waiting() const;
    // Which workers go over to which game, judged by the lines waiting now.
    GameTurns Turns(Clock::time_point now) const { return GameTurns(Waiting(), now); }

    void Answered(Task& task, const LineReply& reply, bool hung, Clock::time_point now);
    // The worker holding it ended by itself: tried once more on a fresh worker, then
    // quarantined. Returns true when it was quarantined now.
    bool Ended(std::shared_ptr<Task> task, Clock::time_point now);
    // The worker holding it ended for a reason not its own: it goes first to the next worker.
    void Retry(std::shared_ptr<Task> task);
    // Not answered in time by the server's own deadline (a worker stopped from outside).
    void TimedOut(Task& task);

    // Requests cancelled or past their deadline give up their unsent lines.
    void Sweep(Clock::time_point now);
    void Forget();
    void Clear();  // at stop: what waits holds sessions, which go before the server

    // Hand-backs of requests now complete, to run outside the lock.
    std::vector<Translator::HandBack> TakeDone() { return std::exchange(m_done, {}); }

    TranslatorStats Stats() const;
    void CountServed(std::size_t lines) { m_stats.linesServed += lines; }
    std::vector<std::string> Quarantined(Clock::time_point now) const {
        return m_record.Quarantined(now);
    }
    // Lines are joined and remembered per game.
    static std::string KeyOf(const PoolJob& job, std::size_t piece) {
        return LineKey(job.batch->Game(), job.batch->m_pieces[piece].sjis);
    }

  private:
    void Settle(PoolJob& job, std::size_t piece, Outcome outcome, const std::string& answer);
    void FinishIfDone(const std::shared_ptr<PoolJob>& job);
    void Expire(const std::shared_ptr<PoolJob>& job);
    bool AnswerAtOnce(Batch& batch, Clock::time_point now, bool correctionsOnly = false);
    // The outcome of a piece that needs no worker, set in `into`: false when it needs one.
    bool AnswerOf(const std::string& game, const std::string& sjis, Clock::time_point now,
                  Batch::Piece& into, bool correctionsOnly);
    // A piece that a `line` entry answers, set in `into`.
    bool Corrected(const std::string& game, const std::string& sjis, Batch::Piece& into);
    void StopScreening(PoolJob& job);
    void ScreenFailed(const std::shared_ptr<PoolJob>& job);
    bool Fits(std::size_t pieces) const;
    void Queue(std::shared_ptr<PoolJob> job);
    // Settles the job's next pieces that need no worker; true when its next piece needs one.
    bool Ready(const std::shared_ptr<PoolJob>& job, Clock::time_point now);
    std::shared_ptr<Task> Take(const std::shared_ptr<PoolJob>& job, bool known);
    void Done(Task& task);

    const std::size_t m_capacity;
    // A batch over this many pieces counts as this many: room stays for the requests after it.
    const std::size_t m_large;
    std::deque<std::shared_ptr<PoolJob>> m_jobs;
    std::size_t m_turn = 0;           // index in m_jobs of the request whose turn is next
    std::size_t m_open = 0;           // pieces admitted and not yet answered
    std::size_t m_unsent = 0;         // of those, not yet taken for a worker
    std::weak_ptr<PoolJob> m_bigJob;  // the batch over m_large pieces in the queue, if any
    std::deque<std::shared_ptr<PoolJob>> m_screening;  // in the order they came
    std::deque<std::shared_ptr<Task>> m_retry;         // lines whose worker ended: first to go
    std::unordered_map<std::string, std::shared_ptr<Task>> m_inFlight;  // by LineKey
    const LineAnswers* m_lines;
    LineRecord m_record;
    RecentAnswers m_recent;
    TranslatorStats m_stats;
    std::vector<Translator::HandBack> m_done;
};

}  // namespace server

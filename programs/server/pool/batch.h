// One request's lines on their way through the pool, and what the pool reports of its workers.
// The pool's parts and its clients (HTTP, the history, the file job) share these; the pool's
// front is translator.h.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace server {

// Worse outcomes come later: a text takes the worst of its pieces.
enum class Outcome { kTranslated, kUntranslated, kQuarantined, kHung, kTimedOut };
//  kUntranslated: the engine declined (Translate 1, destination untouched)
//  kQuarantined : the line ended a worker by itself (alone on a fresh worker too); answered
//                 failed at once until the dictionary/options change or its time runs out
//  kHung        : the line hung the engine (the plug-in gave up on it after its 3 s), now or
//                 remembered; asked again it fails at once, same expiry rules
//  kTimedOut    : not answered in time (request deadline, or the server's own deadline)

// Why the workers could not start: the exit code follows the kind, never the message text.
enum class StartKind { kNone, kLoadFailed, kInitFailed, kSystem };

// Events the pool reports; called on the pool's thread, outside every lock, must not block.
struct PoolEvent {
    enum class Kind {
        kHang,         // a worker was ended because its engine hung on `line`
        kDeath,        // a worker's process ended; detail = "exit code 0x..." or "ended from
                       // outside"; line if one was in hand
        kQuarantine,   // `line` quarantined (detail: why)
        kStartFailed,  // a start failed; detail = the reason
        kBackoff,      // next start in `seconds`
        kStartSlow,    // the first start has taken 20 s (a question box may be open)
        kDeadline,     // a worker held a line past the server's deadline and was ended
        kRecovered,    // a worker is ready again after failures
        // These three carry their sentence, worded, in `detail`:
        kPaused,    // too many workers ended by their line: none is started for `seconds`
        kResumed,   // the pause is over
        kNotEnded,  // a worker's process could not be ended
    };
    Kind kind;
    unsigned worker = 0;  // index, 0-based
    unsigned long pid = 0;
    std::string line;    // UTF-8, may be empty
    std::string detail;  // UTF-8, in the player's language where it is a sentence
    unsigned seconds = 0;
};

// One request's texts, cut into the pieces the plug-in takes and put back together after.
class Batch {
  public:
    // Each text is valid UTF-8 and may hold several lines; each line is translated on its own,
    // what Shift-JIS cannot carry is kept in place, and a line over the plug-in's limit is cut.
    explicit Batch(const std::vector<std::string>& texts);

    struct Result {
        Outcome outcome;
        std::string text;        // the translation; the source itself when not kTranslated
        bool corrected = false;  // kTranslated, a line of it at least by a `line` entry
    };
    std::size_t TextCount() const { return m_texts.size(); }
    std::size_t LineCount() const { return m_lines; }
    std::size_t PieceCount() const { return m_pieces.size(); }
    Result Get(std::size_t text) const;
    const std::string& Source(std::size_t text) const { return m_texts[text].source; }
    // The game whose own entries apply, checked and folded; empty: the common entries only.
    // Set before the batch is submitted.
    void SetGame(std::string game) { m_game = std::move(game); }
    const std::string& Game() const { return m_game; }
    // The client has gone: lines not yet sent are not sent any more. Any thread.
    void Cancel() { m_cancelled = true; }
    bool Cancelled() const { return m_cancelled; }
    // Handed back without room in the queue: answer as for kFull. Set before the hand-back.
    bool Refused() const { return m_refused; }

  private:
    friend class Scheduler;
    void Refuse() { m_refused = true; }
    struct Piece {
        std::string sjis;
        std::string answer;  // UTF-8
        Outcome outcome = Outcome::kTimedOut;
        bool corrected = false;  // answered by a `line` entry, by the server itself
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
    std::string m_game;
    std::atomic<bool> m_cancelled{false};
    bool m_refused = false;
};

}  // namespace server

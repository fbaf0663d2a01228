// Every line the server answers, kept in an SQLite database in the data folder so that it
// survives restarts and can be searched. One thread of its own writes it, fed from the
// AnswerFeed: a slow or failing disk never holds up an answer, it only costs history lines,
// which are counted and logged.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "answer_feed.h"

struct sqlite3;
struct sqlite3_stmt;

namespace server {

inline constexpr const wchar_t* kHistoryFileName = L"history.sqlite3";
inline constexpr std::size_t kDefaultHistoryRows = 1000000;
// The bytes of text a row holds (source, translation, game and client, as UTF-8) are capped
// too: a few very long lines must not grow the file without bound.
inline constexpr uint64_t kDefaultHistoryBytes = uint64_t{256} << 20;
// Past either, lines still waiting to be written are dropped (and counted) instead of held.
inline constexpr std::size_t kHistoryQueueLines = 50000;
inline constexpr std::size_t kHistoryQueueBytes = 64 << 20;
// Lines are written together once this long has passed since the first of them, or once so
// many wait: a killed server loses at most the lines answered in that last moment.
inline constexpr std::chrono::milliseconds kHistoryGather{200};
inline constexpr std::size_t kHistoryGatherLines = 10000;
// A search shorter than a trigram looks at this many of the newest rows at most (of the
// game, when it names one): under 200 ms under Wine at a million rows, even from a cold cache.
inline constexpr std::size_t kShortSearchRows = 20000;
inline constexpr std::size_t kMaxPageLines = 500;

// "translated", "corrected", "refused", "timed_out", "quarantined" or "hung".
const char* OutcomeWord(Outcome outcome, bool corrected = false);

struct HistoryRow {
    int64_t id = 0;
    int64_t timeMs = 0;  // milliseconds since 1970, UTC
    std::string game;
    std::string client;
    std::string source;
    std::string translation;
    std::string outcome;  // OutcomeWord
};

struct GameSummary {
    std::string game;
    int64_t lines = 0;
    int64_t lastMs = 0;
};

class History {
  public:
    struct Options {
        std::size_t rowCap = kDefaultHistoryRows;
        uint64_t byteCap = kDefaultHistoryBytes;
        // Where corrections go (imports through the routes).
        std::filesystem::path dictionaryFolder;
        // Logs a problem of the writer (a failed write, lines dropped); its thread, may be empty.
        std::function<void(const std::string&)> say;
    };
    // Opens or creates the database file; null with the SQLite error in `why` when it cannot.
    // A database that is not a history is refused before anything in it is changed.
    static std::unique_ptr<History> Open(const std::filesystem::path& file, Options options,
                                         std::string* why);
    // Opens an existing database to read only (export); null when it cannot or is absent.
    static std::unique_ptr<History> OpenToRead(const std::filesystem::path& file, std::string* why);
    // Writes what is still queued, then closes.
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Any thread; takes the lines into memory and returns at once.
    void Add(const std::vector<AnsweredLine>& lines);
    // Waits until every line added before the call is written (or dropped).
    void Flush();

    // Reads run on the caller's thread, on a connection of their own. A read that fails gives
    // what it read so far and SQLite's reason in `why` (left empty on success), so that a
    // damaged file is never taken for an empty one.
    // `game` null: every game. `before` 0: from the newest. At most `limit` rows
    // (kMaxPageLines), newest first.
    std::vector<HistoryRow> Page(const std::string* game, int64_t before, std::size_t limit,
                                 std::string* why = nullptr);
    // Rows whose source or translation holds `text`: from three characters on through the
    // index of trigrams (ASCII letters in any case), shorter ones among the newest
    // kShortSearchRows rows only (exact bytes).
    std::vector<HistoryRow> Search(const std::string& text, const std::string* game, int64_t before,
                                   std::size_t limit, std::string* why = nullptr);
    std::vector<GameSummary> Games(std::string* why = nullptr);
    // For each source of the game, its latest translation that the engine or a correction
    // gave, oldest first.
    std::vector<std::pair<std::string, std::string>> Latest(const std::string& game,
                                                            std::string* why = nullptr);

    const std::filesystem::path& DictionaryFolder() const { return m_dictionaryFolder; }
    uint64_t Written() const { return m_written; }
    uint64_t Dropped() const { return m_dropped; }

  private:
    History() = default;
    void Run();
    bool Write(std::vector<AnsweredLine>& lines, std::string& why);
    bool Trim(std::string& why);
    template <class Fill>
    std::vector<HistoryRow> Rows(const char* sql, Fill fill, std::string* why);

    std::size_t m_rowCap = kDefaultHistoryRows;
    uint64_t m_byteCap = kDefaultHistoryBytes;
    std::filesystem::path m_dictionaryFolder;
    std::function<void(const std::string&)> m_say;
    sqlite3* m_writer = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    int64_t m_rows = 0;  // writer thread only
    std::mutex m_readLock;
    sqlite3* m_reader = nullptr;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_caughtUp;
    std::vector<AnsweredLine> m_queue;
    std::size_t m_queueBytes = 0;
    uint64_t m_added = 0;  // lines taken or dropped, under m_mutex
    uint64_t m_done = 0;   // of those, written or dropped, under m_mutex
    bool m_stop = false;
    bool m_hurry = false;  // someone waits in Flush: no gathering
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_dropped{0};
    uint64_t m_droppedSaid = 0;
    std::thread m_thread;
};

}  // namespace server

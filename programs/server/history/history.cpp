#include "history.h"

#include <sqlite3.h>

#include <algorithm>

#include "code_pages.h"
#include "messages.h"

namespace server {
namespace {

using programs::Format;
using programs::Msg;

// Stored as numbers: the words cost ten bytes a row at a million rows.
enum StoredOutcome {
    kTranslatedCode,
    kCorrectedCode,
    kRefusedCode,
    kTimedOutCode,
    kQuarantinedCode,
    kHungCode
};
const char* const kOutcomeWords[] = {"translated", "corrected",   "refused",
                                     "timed_out",  "quarantined", "hung"};

int OutcomeCode(Outcome outcome, bool corrected = false) {
    switch (outcome) {
        case Outcome::kTranslated:
            return corrected ? kCorrectedCode : kTranslatedCode;
        case Outcome::kUntranslated:
            return kRefusedCode;
        case Outcome::kQuarantined:
            return kQuarantinedCode;
        case Outcome::kHung:
            return kHungCode;
        case Outcome::kTimedOut:
            return kTimedOutCode;
    }
    return kTranslatedCode;
}

// Each step of the schema, in order; user_version counts the steps done.
const char* const kSchema[] = {
    "CREATE TABLE lines(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, game TEXT NOT NULL,"
    " client TEXT NOT NULL, source TEXT NOT NULL, translation TEXT NOT NULL,"
    " outcome INTEGER NOT NULL);"
    "CREATE INDEX lines_by_game ON lines(game, id);"
    "CREATE VIRTUAL TABLE lines_text USING fts5(source, translation, content='lines',"
    " content_rowid='id', tokenize='trigram');"
    "CREATE TRIGGER lines_in AFTER INSERT ON lines BEGIN"
    " INSERT INTO lines_text(rowid, source, translation)"
    " VALUES (new.id, new.source, new.translation); END;"
    "CREATE TRIGGER lines_out AFTER DELETE ON lines BEGIN"
    " INSERT INTO lines_text(lines_text, rowid, source, translation)"
    " VALUES ('delete', old.id, old.source, old.translation); END;",
    // The bytes of text the rows hold, kept in step by the same statements that change them.
    "CREATE TABLE text_bytes(total INTEGER NOT NULL);"
    "INSERT INTO text_bytes SELECT coalesce(sum(length(CAST(game AS BLOB)) +"
    " length(CAST(client AS BLOB)) + length(CAST(source AS BLOB)) +"
    " length(CAST(translation AS BLOB))), 0) FROM lines;"
    "CREATE TRIGGER lines_bytes_in AFTER INSERT ON lines BEGIN"
    " UPDATE text_bytes SET total = total + length(CAST(new.game AS BLOB)) +"
    " length(CAST(new.client AS BLOB)) + length(CAST(new.source AS BLOB)) +"
    " length(CAST(new.translation AS BLOB)); END;"
    "CREATE TRIGGER lines_bytes_out AFTER DELETE ON lines BEGIN"
    " UPDATE text_bytes SET total = total - length(CAST(old.game AS BLOB)) -"
    " length(CAST(old.client AS BLOB)) - length(CAST(old.source AS BLOB)) -"
    " length(CAST(old.translation AS BLOB)); END;",
};

const char* const kRowBytes =
    "length(CAST(game AS BLOB)) + length(CAST(client AS BLOB)) + length(CAST(source AS BLOB)) + "
    "length(CAST(translation AS BLOB))";

const char* const kColumns = "id, time, game, client, source, translation, outcome";

std::string Error(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "out of memory";
}

bool Exec(sqlite3* db, const char* sql, std::string* why) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    if (why) *why = message ? message : Error(db);
    sqlite3_free(message);
    return false;
}

// A prepared statement that finalises itself.
class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) {
        sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }
    explicit operator bool() const { return m_stmt != nullptr; }
    void Bind(int i, const std::string& s) {
        sqlite3_bind_text(m_stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void Bind(int i, int64_t n) { sqlite3_bind_int64(m_stmt, i, n); }

  private:
    sqlite3_stmt* m_stmt = nullptr;
};

std::string Column(sqlite3_stmt* s, int i) {
    const unsigned char* text = sqlite3_column_text(s, i);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(s, i)))
                : std::string();
}

sqlite3* OpenConnection(const std::filesystem::path& file, int flags, std::string* why) {
    sqlite3* db = nullptr;
    const std::u8string name = file.u8string();
    if (sqlite3_open_v2(reinterpret_cast<const char*>(name.c_str()), &db,
                        flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        if (why) *why = Error(db);
        sqlite3_close(db);
        return nullptr;
    }
    // Readers and the writer meet only at a checkpoint; waiting beats failing there.
    sqlite3_busy_timeout(db, 5000);
    return db;
}

// One value from the first row of `sql`; false with SQLite's reason when there is none.
bool OneValue(sqlite3* db, const char* sql, int64_t& value, std::string* why) {
    Statement s(db, sql);
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) {
        if (why) *why = Error(db);
        return false;
    }
    value = sqlite3_column_int64(s.get(), 0);
    return true;
}

// Whether the file is a history (or still empty), read before anything is written to it:
// another program's database of the same name is left as it was.
bool IsHistory(sqlite3* db, bool& ours, std::string* why) {
    int64_t version = 0, tables = 0, lines = 0;
    if (!OneValue(db, "PRAGMA user_version", version, why) ||
        !OneValue(db, "SELECT count(*) FROM sqlite_master", tables, why) ||
        !OneValue(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'lines'",
                  lines, why))
        return false;
    ours = version == 0 ? tables == 0 : lines == 1;
    return true;
}

bool Migrate(sqlite3* db, std::string* why) {
    int64_t done = 0;
    if (!OneValue(db, "PRAGMA user_version", done, why)) return false;
    const int steps = static_cast<int>(std::size(kSchema));
    if (done > steps) {
        if (why) *why = "made by a newer Mirelo (schema " + std::to_string(done) + ")";
        return false;
    }
    for (int step = static_cast<int>(done); step < steps; ++step) {
        const std::string sql = std::string("BEGIN;") + kSchema[step] +
                                "PRAGMA user_version=" + std::to_string(step + 1) + ";COMMIT;";
        if (!Exec(db, sql.c_str(), why)) {
            Exec(db, "ROLLBACK", nullptr);
            return false;
        }
    }
    return true;
}

int64_t Millis(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// Whole UTF-8 characters in `s`.
std::size_t Characters(const std::string& s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

const char* OutcomeWord(Outcome outcome, bool corrected) {
    return kOutcomeWords[OutcomeCode(outcome, corrected)];
}

std::unique_ptr<History> History::Open(const std::filesystem::path& file, Options options,
                                       std::string* why) {
    std::unique_ptr<History> h(new History);
    h->m_rowCap = std::max<std::size_t>(options.rowCap, 1);
    h->m_byteCap = std::max<uint64_t>(options.byteCap, 1);
    h->m_say = std::move(options.say);
    h->m_dictionaryFolder = std::move(options.dictionaryFolder);
    h->m_writer = OpenConnection(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, why);
    if (!h->m_writer) return nullptr;
    bool ours = false;
    if (!IsHistory(h->m_writer, ours, why)) return nullptr;
    if (!ours) {
        if (why) *why = Format(Msg::kHistoryNotOurs, {mirelo::WideToUtf8(file.wstring())});
        return nullptr;
    }
    // NORMAL: a commit reaches the system at once (a killed server loses nothing written),
    // and only a power cut may take back the last commits.
    // The index of trigrams merges its segments as it grows: a larger cache spares rereads.
    if (!Exec(h->m_writer,
              "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384;",
              why) ||
        !Migrate(h->m_writer, why))
        return nullptr;
    if (!OneValue(h->m_writer, "SELECT count(*) FROM lines", h->m_rows, why)) return nullptr;
    const std::string insert =
        "INSERT INTO lines(time, game, client, source, translation, outcome) "
        "VALUES (?, ?, ?, ?, ?, ?)";
    if (sqlite3_prepare_v3(h->m_writer, insert.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &h->m_insert,
                           nullptr) != SQLITE_OK) {
        if (why) *why = Error(h->m_writer);
        return nullptr;
    }
    h->m_reader = OpenConnection(file, SQLITE_OPEN_READONLY, why);
    if (!h->m_reader) return nullptr;
    // Caps lowered since the last run take effect at once.
    std::string trimmed;
    if (!h->Trim(trimmed) && h->m_say) h->m_say(Format(Msg::kHistoryWriteFailed, {trimmed}));
    h->m_thread = std::thread([p = h.get()] { p->Run(); });
    return h;
}

std::unique_ptr<History> History::OpenToRead(const std::filesystem::path& file, std::string* why) {
    std::unique_ptr<History> h(new History);
    h->m_reader = OpenConnection(file, SQLITE_OPEN_READONLY, why);
    if (!h->m_reader) return nullptr;
    Statement check(h->m_reader, "SELECT 1 FROM lines LIMIT 1");
    if (!check) {
        if (why) *why = Error(h->m_reader);
        return nullptr;
    }
    return h;
}

History::~History() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    sqlite3_finalize(m_insert);
    sqlite3_close(m_reader);
    sqlite3_close(m_writer);
}

void History::Add(const std::vector<AnsweredLine>& lines) {
    {
        std::lock_guard lock(m_mutex);
        for (const AnsweredLine& line : lines) {
            const std::size_t bytes =
                line.source.size() + line.translation.size() + line.game.size() + 64;
            ++m_added;
            if (m_queue.size() >= kHistoryQueueLines || m_queueBytes + bytes > kHistoryQueueBytes ||
                !m_thread.joinable()) {
                ++m_done;
                ++m_dropped;
                continue;
            }
            m_queue.push_back(line);
            m_queueBytes += bytes;
        }
    }
    m_wake.notify_one();
}

void History::Flush() {
    std::unique_lock lock(m_mutex);
    const uint64_t target = m_added;
    m_hurry = true;
    m_wake.notify_all();
    m_caughtUp.wait(lock, [&] { return m_done >= target; });
}

void History::Run() {
    for (;;) {
        std::vector<AnsweredLine> lines;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            // Lines gathered for a moment cost far less than one small transaction each:
            // every commit is a new segment of the index of trigrams, to be merged later.
            m_wake.wait_for(lock, kHistoryGather, [&] {
                return m_stop || m_hurry || m_queue.size() >= kHistoryGatherLines;
            });
            if (m_queue.empty()) break;
            lines.swap(m_queue);
            m_queueBytes = 0;
            m_hurry = false;
        }
        const std::size_t n = lines.size();
        std::string why;
        if (Write(lines, why)) {
            m_written += n;
        } else {
            // Said with the reason here, and not again as lines the queue had no room for.
            m_dropped += n;
            m_droppedSaid += n;
            if (m_say) m_say(Format(Msg::kHistoryLinesLost, {std::to_string(n), why}));
        }
        {
            std::lock_guard lock(m_mutex);
            m_done += n;
        }
        m_caughtUp.notify_all();
        const uint64_t dropped = m_dropped;
        if (dropped != m_droppedSaid && m_say) {
            m_say(Format(Msg::kHistoryDropped, {std::to_string(dropped - m_droppedSaid)}));
            m_droppedSaid = dropped;
        }
    }
}

bool History::Write(std::vector<AnsweredLine>& lines, std::string& why) {
    if (!Exec(m_writer, "BEGIN", &why)) return false;
    for (const AnsweredLine& line : lines) {
        sqlite3_stmt* s = m_insert;
        sqlite3_bind_int64(s, 1, Millis(line.time));
        sqlite3_bind_text(s, 2, line.game.data(), static_cast<int>(line.game.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(s, 3, line.client.data(), static_cast<int>(line.client.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(s, 4, line.source.data(), static_cast<int>(line.source.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(s, 5, line.translation.data(), static_cast<int>(line.translation.size()),
                          SQLITE_STATIC);
        sqlite3_bind_int(s, 6, OutcomeCode(line.outcome, line.corrected));
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        if (rc != SQLITE_DONE) {
            why = Error(m_writer);
            Exec(m_writer, "ROLLBACK", nullptr);
            return false;
        }
    }
    const int64_t rows = m_rows;
    m_rows += static_cast<int64_t>(lines.size());
    // In the same transaction, so that no reader ever sees more rows or bytes than the caps.
    if (!Trim(why) || !Exec(m_writer, "COMMIT", &why)) {
        Exec(m_writer, "ROLLBACK", nullptr);
        m_rows = rows;
        return false;
    }
    return true;
}

// Takes the oldest rows out past either cap, and a twentieth of that cap more, so that the
// cap is not paid for on every batch.
bool History::Trim(std::string& why) {
    int64_t bytes = 0;
    if (!OneValue(m_writer, "SELECT total FROM text_bytes", bytes, &why)) return false;
    const int64_t rowCap = static_cast<int64_t>(m_rowCap);
    const int64_t byteCap = static_cast<int64_t>(std::min<uint64_t>(m_byteCap, INT64_MAX / 2));
    const int64_t rowsOut =
        m_rows > rowCap ? m_rows - rowCap + std::clamp<int64_t>(rowCap / 20, 1, 10000) : 0;
    const int64_t bytesOut = bytes > byteCap ? bytes - byteCap + byteCap / 20 : 0;
    if (rowsOut == 0 && bytesOut == 0) return true;
    int64_t last = 0;
    {
        const std::string sql = std::string("SELECT id, ") + kRowBytes + " FROM lines ORDER BY id";
        Statement oldest(m_writer, sql);
        if (!oldest) {
            why = Error(m_writer);
            return false;
        }
        int64_t rows = 0, freed = 0;
        while (rows < rowsOut || freed < bytesOut) {
            const int rc = sqlite3_step(oldest.get());
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) {
                why = Error(m_writer);
                return false;
            }
            last = sqlite3_column_int64(oldest.get(), 0);
            freed += sqlite3_column_int64(oldest.get(), 1);
            ++rows;
        }
    }
    Statement trim(m_writer, "DELETE FROM lines WHERE id <= ?");
    if (!trim) {
        why = Error(m_writer);
        return false;
    }
    trim.Bind(1, last);
    if (sqlite3_step(trim.get()) != SQLITE_DONE) {
        why = Error(m_writer);
        return false;
    }
    m_rows -= sqlite3_changes(m_writer);
    return true;
}

template <class Fill>
std::vector<HistoryRow> History::Rows(const char* sql, Fill fill, std::string* why) {
    std::vector<HistoryRow> rows;
    std::lock_guard lock(m_readLock);
    Statement s(m_reader, sql);
    if (!s) {
        if (why) *why = Error(m_reader);
        return rows;
    }
    fill(s);
    for (;;) {
        const int rc = sqlite3_step(s.get());
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) {
            if (why) *why = Error(m_reader);
            break;
        }
        HistoryRow r;
        r.id = sqlite3_column_int64(s.get(), 0);
        r.timeMs = sqlite3_column_int64(s.get(), 1);
        r.game = Column(s.get(), 2);
        r.client = Column(s.get(), 3);
        r.source = Column(s.get(), 4);
        r.translation = Column(s.get(), 5);
        const int code = sqlite3_column_int(s.get(), 6);
        r.outcome = code >= 0 && code < static_cast<int>(std::size(kOutcomeWords))
                        ? kOutcomeWords[code]
                        : "translated";
        rows.push_back(std::move(r));
    }
    return rows;
}

std::vector<HistoryRow> History::Page(const std::string* game, int64_t before, std::size_t limit,
                                      std::string* why) {
    const int64_t below = before > 0 ? before : INT64_MAX;
    const int64_t n = static_cast<int64_t>(std::clamp<std::size_t>(limit, 1, kMaxPageLines));
    const std::string sql = std::string("SELECT ") + kColumns + " FROM lines WHERE " +
                            (game ? "game = ?3 AND " : "") + "id < ?1 ORDER BY id DESC LIMIT ?2";
    return Rows(
        sql.c_str(),
        [&](Statement& s) {
            s.Bind(1, below);
            s.Bind(2, n);
            if (game) s.Bind(3, *game);
        },
        why);
}

std::vector<HistoryRow> History::Search(const std::string& text, const std::string* game,
                                        int64_t before, std::size_t limit, std::string* why) {
    if (text.empty()) return {};
    const int64_t below = before > 0 ? before : INT64_MAX;
    const int64_t n = static_cast<int64_t>(std::clamp<std::size_t>(limit, 1, kMaxPageLines));
    const std::string onGame = game ? "game = ?4 AND " : "";
    if (Characters(text) >= 3) {
        std::string phrase = "\"";
        for (char c : text) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
        phrase += '"';
        const std::string sql =
            "SELECT l.id, l.time, l.game, l.client, l.source, l.translation, "
            "l.outcome FROM lines_text CROSS JOIN lines l ON l.id = lines_text.rowid "
            "WHERE lines_text MATCH ?1 AND lines_text.rowid < ?2 " +
            std::string(game ? "AND l.game = ?4 " : "") + "ORDER BY lines_text.rowid DESC LIMIT ?3";
        return Rows(
            sql.c_str(),
            [&](Statement& s) {
                s.Bind(1, phrase);
                s.Bind(2, below);
                s.Bind(3, n);
                if (game) s.Bind(4, *game);
            },
            why);
    }
    // Under three characters there is no trigram to look up: the newest rows are scanned.
    const std::string sql = std::string("SELECT ") + kColumns + " FROM (SELECT " + kColumns +
                            " FROM lines WHERE " + onGame +
                            "id < ?2 ORDER BY id DESC LIMIT ?5) WHERE instr(source, ?1) OR "
                            "instr(translation, ?1) ORDER BY id DESC LIMIT ?3";
    return Rows(
        sql.c_str(),
        [&](Statement& s) {
            s.Bind(1, text);
            s.Bind(2, below);
            s.Bind(3, n);
            if (game) s.Bind(4, *game);
            s.Bind(5, static_cast<int64_t>(kShortSearchRows));
        },
        why);
}

std::vector<GameSummary> History::Games(std::string* why) {
    std::vector<GameSummary> games;
    std::lock_guard lock(m_readLock);
    Statement s(m_reader,
                "SELECT game, count(*), max(time), max(id) AS last FROM lines GROUP BY game "
                "ORDER BY last DESC");
    int rc = s ? SQLITE_ROW : SQLITE_ERROR;
    while (s && (rc = sqlite3_step(s.get())) == SQLITE_ROW)
        games.push_back({Column(s.get(), 0), sqlite3_column_int64(s.get(), 1),
                         sqlite3_column_int64(s.get(), 2)});
    if (rc != SQLITE_DONE && why) *why = Error(m_reader);
    return games;
}

std::vector<std::pair<std::string, std::string>> History::Latest(const std::string& game,
                                                                 std::string* why) {
    std::vector<std::pair<std::string, std::string>> latest;
    std::lock_guard lock(m_readLock);
    // SQLite takes the bare columns from the row that gave max(id).
    Statement s(m_reader,
                "SELECT source, translation, max(id) AS last FROM lines WHERE game = ?1 AND "
                "outcome IN (0, 1) GROUP BY source ORDER BY last");
    int rc = SQLITE_ERROR;
    if (s) {
        s.Bind(1, game);
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
            latest.emplace_back(Column(s.get(), 0), Column(s.get(), 1));
    }
    if (rc != SQLITE_DONE && why) *why = Error(m_reader);
    return latest;
}

}  // namespace server

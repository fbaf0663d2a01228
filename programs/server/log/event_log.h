// What happened to the server while it ran (workers replaced, lines quarantined, starts that
// failed, dictionary reloads, requests that failed inside it), each with its time: one line
// on the console in the player's language, one line in a UTF-8 log file, and the last
// kRecentEvents in memory for /status. The console and the file are written by a thread of
// the log's own, so that a console held still (a selection in it) stalls nobody who reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"

namespace server {

inline constexpr std::size_t kRecentEvents = 500;
// The log file is moved to mirelo-server.log.1 (replacing the one before) past this size.
inline constexpr std::uintmax_t kLogRotateBytes = 4 << 20;
// At most this many events a second reach the console; the rest are counted and said once.
inline constexpr unsigned kConsoleEventsPerSecond = 5;
// Events waiting for the log's writer; past it they are counted and said once there is room.
inline constexpr std::size_t kLogQueueEvents = 1000;

struct LoggedEvent {
    std::string time;  // local, "2024-05-01 21:03:04"
    std::string kind;  // a short English word, for programs: "hang", "death", "dictionary", ...
    std::string text;  // UTF-8, in the player's language
};

class EventLog {
  public:
    // `folder`: where mirelo-server.log goes (made when missing); empty for no file.
    // `console` takes each line shown; by default the standard error.
    explicit EventLog(const std::wstring& folder,
                      std::function<void(const std::string&)> console = {});
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Any thread. Never throws; a log file that cannot be written is said once.
    // `console`: false for what the program has already said there in its own words.
    void Add(const std::string& kind, const std::string& text, bool console = true) noexcept;
    void Add(const PoolEvent& event) noexcept;
    std::vector<LoggedEvent> Recent() const;
    // The log file's full path; empty when there is none.
    const std::wstring& FilePath() const { return m_path; }

  private:
    struct Pending {
        std::string fileLine;
        std::string consoleLine;  // empty: not for the console
        std::uint64_t tickMs = 0;
    };
    void Run();
    void Write(const Pending& p);
    void WriteFile(const std::string& line);
    void ToConsole(const std::string& line, std::uint64_t nowMs);

    mutable std::mutex m_mutex;  // what follows, up to the writer's own
    std::condition_variable m_wake;
    std::deque<LoggedEvent> m_recent;
    std::deque<Pending> m_queue;
    std::uint64_t m_lost = 0;  // not queued since the writer last took the queue
    bool m_stop = false;

    // The writer's own.
    std::function<void(const std::string&)> m_console;
    std::wstring m_path;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_file;
    std::uintmax_t m_size = 0;
    bool m_fileFailed = false;
    std::uint64_t m_second = 0;  // the console's current second, GetTickCount64 / 1000
    unsigned m_shown = 0;        // console lines in it
    unsigned m_held = 0;         // events not shown since the console last fell silent
    std::thread m_thread;
};

// The text of a pool event, in the player's language.
std::string DescribeEvent(const PoolEvent& event);
const char* EventKindName(PoolEvent::Kind kind);

}  // namespace server

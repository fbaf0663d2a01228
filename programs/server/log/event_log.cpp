#include "event_log.h"

#include <windows.h>

#include <filesystem>
#include <utility>

#include "code_pages.h"
#include "messages.h"
#include "text_output.h"

namespace server {
namespace {

using programs::Format;
using programs::Msg;

std::string LocalTime() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char s[32];
    std::snprintf(s, sizeof s, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return s;
}

}  // namespace

const char* EventKindName(PoolEvent::Kind kind) {
    switch (kind) {
        case PoolEvent::Kind::kHang:
            return "hang";
        case PoolEvent::Kind::kDeath:
            return "death";
        case PoolEvent::Kind::kQuarantine:
            return "quarantine";
        case PoolEvent::Kind::kStartFailed:
            return "start-failed";
        case PoolEvent::Kind::kBackoff:
            return "backoff";
        case PoolEvent::Kind::kStartSlow:
            return "start-slow";
        case PoolEvent::Kind::kDeadline:
            return "deadline";
        case PoolEvent::Kind::kRecovered:
            return "recovered";
        case PoolEvent::Kind::kPaused:
            return "paused";
        case PoolEvent::Kind::kResumed:
            return "resumed";
        case PoolEvent::Kind::kNotEnded:
            return "not-ended";
    }
    return "pool";
}

std::string DescribeEvent(const PoolEvent& e) {
    // Workers are counted from 1 for the player.
    const std::string worker = std::to_string(e.worker + 1);
    switch (e.kind) {
        case PoolEvent::Kind::kHang:
            return Format(Msg::kEventHang, {worker, e.line});
        case PoolEvent::Kind::kDeath:
            return e.line.empty() ? Format(Msg::kEventDeath, {worker, e.detail})
                                  : Format(Msg::kEventDeathLine, {worker, e.detail, e.line});
        case PoolEvent::Kind::kQuarantine:
            return Format(Msg::kEventQuarantine, {e.line, e.detail});
        case PoolEvent::Kind::kStartFailed:
            return Format(Msg::kEventStartFailed, {worker, e.detail});
        case PoolEvent::Kind::kBackoff:
            return Format(Msg::kEventBackoff, {worker, std::to_string(e.seconds)});
        case PoolEvent::Kind::kStartSlow:
            return Format(Msg::kEventStartSlow, {std::to_string(e.seconds)});
        case PoolEvent::Kind::kDeadline:
            return Format(Msg::kEventDeadline, {worker, e.line});
        case PoolEvent::Kind::kRecovered:
            return Format(Msg::kEventRecovered, {worker});
        case PoolEvent::Kind::kPaused:
        case PoolEvent::Kind::kResumed:
        case PoolEvent::Kind::kNotEnded:
            return e.detail;
    }
    return e.detail;
}

EventLog::EventLog(const std::wstring& folder, std::function<void(const std::string&)> console)
    : m_console(std::move(console)), m_file(nullptr, &std::fclose) {
    if (!m_console)
        m_console = [](const std::string& line) {
            programs::Err().Write("mirelo-server: " + line + "\n");
        };
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        m_path = folder;
        if (m_path.back() != L'\\' && m_path.back() != L'/') m_path += L'\\';
        m_path += L"mirelo-server.log";
        m_file.reset(_wfopen(m_path.c_str(), L"ab"));
        if (m_file) {
            m_size = std::filesystem::file_size(m_path, ec);
            if (ec) m_size = 0;
        } else {
            m_fileFailed = true;
            m_console(Format(Msg::kEventLogUnwritable,
                             {mirelo::WideToUtf8(m_path), programs::SystemMessage(_doserrno)}));
        }
    }
    m_thread = std::thread([this] { Run(); });
}

// Whatever is queued is written before the log goes.
EventLog::~EventLog() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    if (m_held) m_console(Format(Msg::kEventsNotShown, {std::to_string(m_held)}));
}

void EventLog::Add(const PoolEvent& event) noexcept {
    try {
        Add(EventKindName(event.kind), DescribeEvent(event));
    } catch (...) {
        // Out of memory for the words: the event is lost, the server goes on.
    }
}

void EventLog::Add(const std::string& kind, const std::string& text, bool console) noexcept {
    try {
        LoggedEvent event{LocalTime(), kind, text};
        Pending p{event.time + " [" + kind + "] " + text + "\n",
                  console ? event.time + " " + text : std::string(), GetTickCount64()};
        {
            std::lock_guard lock(m_mutex);
            m_recent.push_back(std::move(event));
            if (m_recent.size() > kRecentEvents) m_recent.pop_front();
            if (m_queue.size() >= kLogQueueEvents) {
                ++m_lost;
                return;
            }
            m_queue.push_back(std::move(p));
        }
        m_wake.notify_one();
    } catch (...) {
    }
}

std::vector<LoggedEvent> EventLog::Recent() const {
    std::lock_guard lock(m_mutex);
    return {m_recent.begin(), m_recent.end()};
}

void EventLog::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty()) return;  // stopping, and all written
        std::deque<Pending> batch;
        batch.swap(m_queue);
        const std::uint64_t lost = std::exchange(m_lost, 0);
        lock.unlock();
        try {
            for (const Pending& p : batch) Write(p);
            // Said after what was queued before them, now that the queue has room again.
            if (lost) {
                const std::string text = Format(Msg::kEventsLost, {std::to_string(lost)});
                Write({LocalTime() + " [log] " + text + "\n", LocalTime() + " " + text,
                       GetTickCount64()});
            }
        } catch (...) {
            // Out of memory for a line: that line is lost.
        }
        batch.clear();
        lock.lock();
    }
}

void EventLog::Write(const Pending& p) {
    WriteFile(p.fileLine);
    if (!p.consoleLine.empty()) ToConsole(p.consoleLine, p.tickMs);
}

void EventLog::WriteFile(const std::string& line) {
    if (!m_file) return;
    if (m_size > 0 && m_size + line.size() > kLogRotateBytes) {
        m_file.reset();
        const std::wstring old = m_path + L".1";
        MoveFileExW(m_path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING);
        m_file.reset(_wfopen(m_path.c_str(), L"ab"));
        std::error_code ec;
        m_size = std::filesystem::file_size(m_path, ec);
        if (ec) m_size = 0;
    }
    if (m_file && std::fwrite(line.data(), 1, line.size(), m_file.get()) == line.size() &&
        std::fflush(m_file.get()) == 0) {
        m_size += line.size();
        return;
    }
    if (!m_fileFailed) {
        m_fileFailed = true;
        ToConsole(Format(Msg::kEventLogUnwritable,
                         {mirelo::WideToUtf8(m_path), programs::SystemMessage(_doserrno)}),
                  GetTickCount64());
    }
}

void EventLog::ToConsole(const std::string& line, std::uint64_t nowMs) {
    const std::uint64_t second = nowMs / 1000;
    if (second != m_second) {
        m_second = second;
        m_shown = 0;
        if (m_held) {
            m_console(Format(Msg::kEventsNotShown, {std::to_string(m_held)}));
            m_held = 0;
            ++m_shown;
        }
    }
    if (m_shown >= kConsoleEventsPerSecond) {
        ++m_held;
        return;
    }
    ++m_shown;
    m_console(line);
}

}  // namespace server

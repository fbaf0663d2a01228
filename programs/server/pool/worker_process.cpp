#include "worker_process.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "code_pages.h"
#include "dialog_watch.h"
#include "dictionary_folder_win.h"
#include "engine_question.h"
#include "frames.h"
#include "messages.h"
#include "plugin_host.h"
#include "exit_codes.h"
#include "text_codec.h"
#include "translation_cache.h"

namespace server {
namespace {

// Larger than any answer the plug-in writes (it finishes text in buffers smaller than this).
constexpr int kDestSize = 64 << 10;
// The destination is filled with this before each call: a destination without any NUL after
// Translate returned 1 was left untouched, which the plug-in does when the engine gave
// nothing (or failed on the line).
constexpr char kUntouched = '\xFF';
constexpr auto kPumpInterval = std::chrono::milliseconds(100);

bool ReadExactly(HANDLE h, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(h, p, static_cast<DWORD>(size), &got, nullptr) || got == 0) return false;
        p += got;
        size -= got;
    }
    return true;
}

bool WriteFrame(HANDLE h, std::string_view payload) {
    const std::string frame = EncodeFrame(payload);
    const char* p = frame.data();
    std::size_t left = frame.size();
    while (left > 0) {
        DWORD put = 0;
        if (!WriteFile(h, p, static_cast<DWORD>(left), &put, nullptr) || put == 0) return false;
        p += put;
        left -= put;
    }
    return true;
}

// Lines from the parent, read on a thread of their own so that the window's messages are
// handled while none comes.
class Inbox {
  public:
    explicit Inbox(HANDLE pipe) : m_thread([this, pipe] { Read(pipe); }) {}
    ~Inbox() { m_thread.join(); }
    Inbox(const Inbox&) = delete;
    Inbox& operator=(const Inbox&) = delete;

    // The next line; nullopt when the pipe has ended. `idle` runs whenever nothing came for a
    // while.
    template <class Idle>
    std::optional<std::string> Next(Idle idle) {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (!m_lines.empty()) {
                std::string line = std::move(m_lines.front());
                m_lines.pop_front();
                return line;
            }
            if (m_closed) return std::nullopt;
            if (m_wake.wait_for(lock, kPumpInterval) == std::cv_status::timeout) {
                lock.unlock();
                idle();
                lock.lock();
            }
        }
    }

  private:
    void Read(HANDLE pipe) {
        for (;;) {
            unsigned char header[kFrameHeader];
            std::string line;
            bool ok = ReadExactly(pipe, header, sizeof header);
            const std::optional<std::uint32_t> n = ok ? FrameLength(header) : std::nullopt;
            if (n) {
                line.resize(*n);
                ok = *n == 0 || ReadExactly(pipe, line.data(), *n);
            }
            std::lock_guard lock(m_mutex);
            if (!n || !ok) {
                m_closed = true;
                m_wake.notify_one();
                return;
            }
            m_lines.push_back(std::move(line));
            m_wake.notify_one();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::string> m_lines;
    bool m_closed = false;
    std::thread m_thread;
};

// Calls Translate for one line and tells what became of it.
class Caller {
  public:
    explicit Caller(programs::PluginHost& plugin)
        : m_plugin(plugin), m_dest(kDestSize, kUntouched) {}

    LineReply AnswerLine(const std::string& sjis) {
        // The plug-in's cache is not visible from outside; a record of the same size and rule
        // (least recently used, filed only when answered) tells which lines it holds.
        const uint32_t key = mirelo::HashText(sjis.c_str());
        LineReply r;
        r.cacheHit = m_record.FindEntry(key, sjis) != nullptr;
        LARGE_INTEGER freq, t0, t1;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&t0);
        const int ok = m_plugin.Translate(sjis.c_str(), m_dest.data(), kDestSize);
        QueryPerformanceCounter(&t1);
        r.micros = static_cast<std::uint32_t>(1e6 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                                              static_cast<double>(freq.QuadPart));
        if (!ok) {
            // The plug-in never writes into the buffers of a call it gave up on.
            r.reply = Reply::kGaveUp;
            r.cacheHit = false;
            return r;
        }
        const void* nul = std::memchr(m_dest.data(), '\0', m_dest.size());
        if (!nul) {
            r.reply = Reply::kUntranslated;
            return r;
        }
        const std::size_t n =
            static_cast<std::size_t>(static_cast<const char*>(nul) - m_dest.data());
        r.reply = Reply::kTranslated;
        r.text = programs::Cp949ToUtf8(std::string(m_dest.data(), n));
        std::memset(m_dest.data(), kUntouched, n + 1);
        if (!r.cacheHit) m_record.AddEntry(key, sjis, {});
        return r;
    }

  private:
    programs::PluginHost& m_plugin;
    std::vector<char> m_dest;
    mirelo::TranslationCache m_record;
};

// Answers the plug-in's boxes while it starts, so that a worker never waits on a box nobody
// is meant to see: a box with only OK (the plug-in's error) is closed at once, its text kept
// as the reason; a question or the folder browser only when `unattended`, that is when the
// user has been asked once already since the server started (a question is answered No).
class BoxAnswerer {
  public:
    explicit BoxAnswerer(bool unattended) : m_unattended(unattended), m_thread([this] { Run(); }) {}
    ~BoxAnswerer() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    std::wstring ErrorText() const {
        std::lock_guard lock(m_mutex);
        return m_error;
    }

  private:
    void Run() {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, kPumpInterval, [this] { return m_stop; })) {
            lock.unlock();
            EnumWindows(Answer, reinterpret_cast<LPARAM>(this));
            lock.lock();
        }
    }

    static void Press(HWND box, int id) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    }

    static BOOL CALLBACK Answer(HWND window, LPARAM self) {
        auto& me = *reinterpret_cast<BoxAnswerer*>(self);
        if (!programs::IsVisibleDialogOf(window, GetCurrentProcessId())) return TRUE;
        wchar_t text[1024] = {};
        // A message box's text is the static control 0xFFFF.
        const int n = GetDlgItemTextW(window, 0xFFFF, text, 1024);
        const bool question = GetDlgItem(window, IDNO) != nullptr;
        if (n > 0 && !question) {
            {
                std::lock_guard lock(me.m_mutex);
                me.m_error.assign(text, static_cast<std::size_t>(n));
            }
            Press(window, IDOK);
        } else if (me.m_unattended) {
            Press(window, question ? IDNO : IDCANCEL);
        }
        return TRUE;
    }

    const bool m_unattended;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::wstring m_error;
    std::thread m_thread;
};

// kReady when the plug-in is ready, else why it is not (it is closed again then).
StartResult StartPlugin(programs::HostWindow& window, programs::PluginHost& plugin,
                        const std::wstring& path, const std::string& options, bool unattended,
                        std::string& message) {
    if (!window.get()) {
        message = programs::Format(programs::Msg::kNoWindow, {std::to_string(GetLastError())});
        return StartResult::kLoadFailed;
    }
    if (plugin.Load(path, message) != programs::LoadResult::kLoaded)
        return StartResult::kLoadFailed;
    char given[16] = {};
    std::memcpy(given, options.data(), std::min<std::size_t>(options.size(), 15));
    std::wstring error;
    int started = 0;
    {
        const BoxAnswerer answerer(unattended);
        started = plugin.Init(window.get(), given);
        error = answerer.ErrorText();
    }
    if (started) return StartResult::kReady;
    plugin.Close();  // its worker runs on after a failed start and must be stopped
    message = programs::Text(programs::Msg::kPluginDidNotStart);
    if (!error.empty()) message += " (" + mirelo::WideToUtf8(error) + ")";
    return StartResult::kInitFailed;
}

}  // namespace

int RunWorkerProcess(HANDLE fromParent, HANDLE toParent, const std::wstring& plugin,
                     const std::string& options, bool unattended, const std::string& game) {
    // Read by the plug-in at OnPluginInit; set or cleared, never inherited from elsewhere.
    SetEnvironmentVariableW(mirelo::dict::kGameVariable,
                            game.empty() ? nullptr : mirelo::Utf8ToWide(game).c_str());
    programs::HostWindow window;  // outlives the plug-in, which holds on to its handle
    programs::PluginHost host;
    std::string failure;
    const bool willAsk = !unattended && programs::PluginWillAsk(plugin);
    if (willAsk) programs::ForgetPickedFolder();
    const StartResult result = StartPlugin(window, host, plugin, options, unattended, failure);
    const std::wstring picked = willAsk ? programs::PickedFolder() : std::wstring();
    if (result != StartResult::kReady) {
        if (!picked.empty() && programs::IsMireloFolder(picked))
            failure =
                programs::Format(programs::Msg::kPickedMireloFolder, {mirelo::WideToUtf8(picked)}) +
                " (" + failure + ")";
        WriteFrame(toParent, EncodeStarted(result, failure));
        return result == StartResult::kInitFailed ? kExitInit : kExitLoad;
    }
    const std::wstring engine = picked.empty() ? std::wstring() : programs::LoadedEngineFolder();
    if (!WriteFrame(toParent, EncodeStarted(StartResult::kReady, mirelo::WideToUtf8(engine)))) {
        host.Close();
        return kExitOk;
    }
    {
        Caller caller(host);
        Inbox inbox(fromParent);
        while (std::optional<std::string> line = inbox.Next([&] { window.Pump(); })) {
            // A parent that has gone takes its end of both pipes along: the inbox ends too.
            if (!WriteFrame(toParent, EncodeReply(caller.AnswerLine(*line)))) break;
        }
    }
    host.Close();
    return kExitOk;
}

}  // namespace server

#include "server_link.h"

#include "code_pages.h"
#include "ext_messages.h"
#include "locks.h"
#include "mirelo_version.h"
#include "module_path.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <nlohmann/json.hpp>

namespace textractor {
namespace {

constexpr DWORD kStatusTimeoutMs = 1000;
// How long a server this extension started may take to answer at all, and how long one that
// answers may stay "starting" (its first worker may be showing the engine-folder question).
constexpr ULONGLONG kStartWaitMs = 20000;
constexpr ULONGLONG kStartingWaitMs = 60000;
constexpr size_t kMaxBody = 8u << 20;

// What /status says.
struct Status {
    bool mirelo = false;
    bool ready = false;
    std::string plugin;
    std::string problem;
};

// Nothing when the body is not a JSON object; a field missing or of another kind reads as empty.
std::optional<Status> ReadStatus(const std::string& body) {
    const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    auto text = [&j](const char* key) {
        const auto it = j.find(key);
        return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    const auto ready = j.find("engine_ready");
    Status st;
    st.mirelo = text("server") == "mirelo-server";
    st.ready = ready != j.end() && ready->is_boolean() && ready->get<bool>();
    st.plugin = text("plugin");
    st.problem = text("plugin_problem");
    return st;
}

std::wstring Address(const Settings& s) {
    return s.host + L":" + std::to_wstring(s.port);
}

// One HTTP exchange on `connection`; false when it failed before an answer came.
struct Answer {
    DWORD error = 0;
    DWORD status = 0;
    std::string body;
};

bool SetTimeout(HINTERNET request, DWORD option, ULONGLONG deadline) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    DWORD ms = static_cast<DWORD>(deadline - now);
    return ::WinHttpSetOption(request, option, &ms, sizeof(ms));
}

// A GET of `path` whose waits together take at most `budgetMs`.
bool Exchange(HINTERNET connection, const wchar_t* path, DWORD budgetMs, Answer& out) {
    const ULONGLONG deadline = ::GetTickCount64() + budgetMs;
    UniqueInternet request(::WinHttpOpenRequest(connection, L"GET", path, nullptr,
                                                WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                WINHTTP_FLAG_ESCAPE_DISABLE));
    auto fail = [&] {
        out.error = ::GetLastError();
        // Wine reports a receive that timed out as the socket's own error.
        if (out.error == 0 || out.error == WSAETIMEDOUT) out.error = ERROR_WINHTTP_TIMEOUT;
        return false;
    };
    if (!request) return fail();
    // Each wait gets what is left of the budget, so the call as a whole keeps to it.
    if (!::WinHttpSetTimeouts(request.get(), static_cast<int>(budgetMs), static_cast<int>(budgetMs),
                              static_cast<int>(budgetMs), static_cast<int>(budgetMs)))
        return fail();
    // Set before sending: Wine applies it to the socket as the request goes out, and ignores
    // a change after that.
    if (!SetTimeout(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, deadline))
        return fail();
    if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        return fail();
    if (!SetTimeout(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, deadline) ||
        !SetTimeout(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, deadline)) {
        ::SetLastError(ERROR_WINHTTP_TIMEOUT);
        return fail();
    }
    if (!::WinHttpReceiveResponse(request.get(), nullptr)) return fail();
    DWORD size = sizeof(out.status);
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &out.status, &size,
                               WINHTTP_NO_HEADER_INDEX))
        return fail();
    for (;;) {
        if (!SetTimeout(request.get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, deadline)) {
            ::SetLastError(ERROR_WINHTTP_TIMEOUT);
            return fail();
        }
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request.get(), &available)) return fail();
        if (available == 0) return true;
        if (out.body.size() + available > kMaxBody) {
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return fail();
        }
        const size_t at = out.body.size();
        out.body.resize(at + available);
        DWORD read = 0;
        if (!::WinHttpReadData(request.get(), out.body.data() + at, available, &read))
            return fail();
        out.body.resize(at + read);
        if (read == 0) return true;
    }
}

bool Blank(std::wstring_view s) {
    for (wchar_t c : s)
        if (c != L' ' && c != L'\t' && c != L'\x3000') return false;
    return true;
}

// For a query value: unreserved characters as they are, every other byte as %XX.
std::wstring PercentEncode(const std::string& utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::wstring out;
    out.reserve(utf8.size() * 3);
    for (unsigned char c : utf8) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<wchar_t>(c);
        } else {
            out += L'%';
            out += static_cast<wchar_t>(kHex[c >> 4]);
            out += static_cast<wchar_t>(kHex[c & 15]);
        }
    }
    return out;
}

DWORD WINAPI CheckerMain(void* module) {
    Link().Check();
    // The thread held the DLL loaded; an unload asked for meanwhile happens here.
    ::FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

}  // namespace

// Built while the DLL loads, not on first use: a guarded local static would make the
// runtime's lock for it, a semaphore that stays behind at every unload.
ServerLink g_link;

ServerLink& Link() {
    return g_link;
}

void ServerLink::Attach(HMODULE module) {
    module_ = module;
}

HINTERNET ServerLink::ConnectionLocked(const Settings& s) {
    // A server this extension started for other settings is ended and, on the same port,
    // started again with the new --options.
    if (haveSettings_ && server_ && !endServer_ &&
        (!current_.SameServer(s) || current_.options != s.options)) {
        endServer_ = true;
        usable_ = false;
        lastCheck_ = 0;
        messages_.push_back(Words(Say::kServerRestarting));
    }
    if (!haveSettings_ || !current_.SameServer(s)) {
        if (connect_) retired_.push_back(std::move(connect_));
        current_ = s;
        haveSettings_ = true;
        usable_ = false;
        lastCheck_ = 0;
        downSaid_.clear();
    } else {
        current_ = s;
    }
    if (!session_)
        session_.reset(::WinHttpOpen(L"Mirelo Translate/" MIRELO_VERSION,
                                     WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
    if (session_ && !connect_)
        connect_.reset(::WinHttpConnect(session_.get(), s.host.c_str(), s.port, 0));
    return connect_.get();
}

void ServerLink::MaybeCheckLocked(ULONGLONG now) {
    if (checking_ || (lastCheck_ != 0 && now - lastCheck_ < kRecheckMs)) return;
    // The check's thread keeps the DLL loaded until it ends, so that an unload meanwhile
    // neither pulls the code from under it nor waits for it inside DllMain.
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&CheckerMain), &self))
        return;
    checking_ = true;
    lastCheck_ = now;
    HANDLE thread = ::CreateThread(nullptr, 0, CheckerMain, self, 0, nullptr);
    if (!thread) {
        checking_ = false;
        ::FreeLibrary(self);
        return;
    }
    ::CloseHandle(thread);
}

Translation ServerLink::Translate(const Settings& settings, std::wstring_view text) {
    Translation t;
    HINTERNET connection = nullptr;
    {
        mirelo::ExclusiveLock::Guard guard(lock_);
        connection = ConnectionLocked(settings);
        if (!usable_ || !connection) {
            MaybeCheckLocked(::GetTickCount64());
            return t;
        }
    }
    // One GET per line, each in one segment: a POST's body goes out as a second small write,
    // which waits on the server's delayed acknowledgement (40 ms a request under Wine).
    const ULONGLONG deadline = ::GetTickCount64() + kCallBudgetMs;
    bool translated = false, timedOut = false, failed = false;
    t.outcome = Outcome::kFailed;
    while (!text.empty()) {
        size_t end = text.find(L'\n');
        end = end == std::wstring_view::npos ? text.size() : end + 1;
        std::wstring_view line = text.substr(0, end);
        text.remove_prefix(end);
        std::wstring_view ending;
        while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) {
            ending = std::wstring_view(line.data() + line.size() - 1, ending.size() + 1);
            line.remove_suffix(1);
        }
        const ULONGLONG now = ::GetTickCount64();
        if (Blank(line) || now >= deadline) {
            timedOut = timedOut || !Blank(line);
            t.text.append(line).append(ending);
            continue;
        }
        Answer ex;
        const std::wstring path = L"/translate?text=" + PercentEncode(mirelo::WideToUtf8(line));
        if (!Exchange(connection, path.c_str(), static_cast<DWORD>(deadline - now), ex)) {
            // A server that does not answer at all in time is looked at again before the next
            // line waits on it: the check sees whether it still answers /status.
            Lost(settings, ex.error != ERROR_WINHTTP_TIMEOUT);
            if (ex.error != ERROR_WINHTTP_TIMEOUT) return t;
            timedOut = true;
            t.text.append(line).append(ending).append(text);
            break;
        } else if (ex.status == 503) {
            // Up but not ready (its plug-in is restarting): the check says why.
            Lost(settings, false);
            t.outcome = Outcome::kNotReady;
            return t;
        } else if (ex.status == 200) {
            t.text += mirelo::Utf8ToWide(ex.body);
            t.text.append(ending);
            translated = true;
            continue;
        } else if (ex.status == 504) {
            timedOut = true;  // the plug-in gave up on it after its 3 s
        } else {
            failed = true;  // 422: the engine gave nothing
        }
        t.text.append(line).append(ending);
    }
    if (timedOut && FirstTime(static_cast<int>(Say::kLineTimedOut)))
        this->Say(Words(Say::kLineTimedOut));
    if (failed && FirstTime(static_cast<int>(Say::kLineFailed))) this->Say(Words(Say::kLineFailed));
    if (translated) t.outcome = Outcome::kTranslated;
    return t;
}

void ServerLink::Lost(const Settings& s, bool connectionFailed) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    if (!current_.SameServer(s) || !usable_) return;
    usable_ = false;
    lastCheck_ = 0;  // look again at once, not a recheck period later
    if (connectionFailed) {
        downSaid_ = Words(Say::kServerLost);
        messages_.push_back(downSaid_);
    }
    MaybeCheckLocked(::GetTickCount64());
}

void ServerLink::Finish(const Settings& s, bool usable, const std::wstring& message) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    checking_ = false;
    lastCheck_ = ::GetTickCount64();
    if (!current_.SameServer(s)) return;  // the settings moved on while it ran
    usable_ = usable;
    if (usable) {
        if (!downSaid_.empty()) messages_.push_back(Words(Say::kServerBack));
        downSaid_.clear();
    } else if (!message.empty() && message != downSaid_) {
        downSaid_ = message;
        messages_.push_back(message);
    }
}

bool ServerLink::StartServer(const Settings& s, std::wstring& problem) {
    // A relative folder is taken from the extension's own, not from Textractor's working one.
    const std::wstring& named = s.serverFolder;
    const bool absolute = (named.size() >= 2 && named[1] == L':') ||
                          (!named.empty() && (named[0] == L'\\' || named[0] == L'/'));
    const std::wstring folder = named.empty() ? mirelo::ModuleFolder(module_)
                                : absolute    ? named
                                              : mirelo::ModuleFolder(module_) + L"\\" + named;
    const std::wstring exe = folder + L"\\mirelo-server.exe";
    const DWORD attributes = ::GetFileAttributesW(exe.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = Words(Say::kServerMissing, {exe});
        return false;
    }
    std::wstring command = L"\"" + exe + L"\" --port " + std::to_wstring(s.port);
    if (!s.options.empty()) command += L" --options " + s.options;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    // Hidden and without a console window; the plug-in's own boxes still show.
    if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, folder.c_str(), &si, &pi)) {
        problem = Words(Say::kServerStartFailed, {exe, std::to_wstring(::GetLastError())});
        return false;
    }
    mirelo::UniqueHandle process(pi.hProcess);
    mirelo::UniqueHandle thread(pi.hThread);
    {
        mirelo::ExclusiveLock::Guard guard(lock_);
        // The server ends with Textractor however Textractor ends: its job's last handle is ours.
        if (!job_) {
            job_.reset(::CreateJobObjectW(nullptr, nullptr));
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            if (job_ && !::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation,
                                                   &limits, sizeof(limits)))
                job_.reset();
        }
        serverInJob_ = job_ && ::AssignProcessToJobObject(job_.get(), process.get());
        server_ = std::move(process);
    }
    ::ResumeThread(thread.get());
    mirelo::ExclusiveLock::Guard guard(lock_);
    messages_.push_back(Words(Say::kServerStarted, {Address(s)}));
    return true;
}

void ServerLink::Check() {
    Settings s;
    HINTERNET connection = nullptr;
    mirelo::UniqueHandle old;
    {
        mirelo::ExclusiveLock::Guard guard(lock_);
        s = current_;
        connection = connect_.get();
        if (endServer_) old = std::move(server_);
        endServer_ = false;
    }
    if (old) {
        // Its workers end with it (its own job); its port is free once it has gone.
        ::TerminateProcess(old.get(), 0);
        ::WaitForSingleObject(old.get(), 5000);
    }
    const ULONGLONG begin = ::GetTickCount64();
    bool started = false;
    bool saidWaiting = false;
    HANDLE process = nullptr;
    for (;;) {
        Answer ex;
        const bool answered = connection && Exchange(connection, L"/status", kStatusTimeoutMs, ex);
        const ULONGLONG now = ::GetTickCount64();
        if (answered) {
            const std::optional<Status> st = ex.status == 200 ? ReadStatus(ex.body) : std::nullopt;
            if (!st || !st->mirelo) return Finish(s, false, Words(Say::kNotMirelo, {Address(s)}));
            if (st->ready) return Finish(s, true, {});
            if (st->plugin == "failed" || st->plugin == "retrying") {
                const std::wstring why = mirelo::Utf8ToWide(st->problem);
                return Finish(s, false, Words(Say::kEngineNotReady, {why.empty() ? L"?" : why}));
            }
            // Still starting: its first worker may be asking the player for the engine folder.
            if (now - begin > kStartingWaitMs) return Finish(s, false, Words(Say::kServerWaiting));
            if (!saidWaiting && now - begin > 3000) {
                saidWaiting = true;
                this->Say(Words(Say::kServerWaiting));
            }
            ::Sleep(250);
            continue;
        }
        if (started) {
            DWORD code = STILL_ACTIVE;
            if (process && ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE)
                return Finish(
                    s, false,
                    Words(Say::kServerExited, {std::to_wstring(code), std::to_wstring(s.port)}));
            if (now - begin > kStartWaitMs)
                return Finish(s, false,
                              Words(Say::kServerSlow, {std::to_wstring(kStartWaitMs / 1000)}));
            ::Sleep(100);
            continue;
        }
        if (!IsLoopback(s.host) || !connection) return Finish(s, false, Words(Say::kServerLost));
        std::wstring problem;
        if (!StartServer(s, problem)) return Finish(s, false, problem);
        started = true;
        mirelo::ExclusiveLock::Guard guard(lock_);
        process = server_.get();
    }
}

std::vector<std::wstring> ServerLink::TakeMessages() {
    mirelo::ExclusiveLock::Guard guard(lock_);
    return std::exchange(messages_, {});
}

void ServerLink::Say(const std::wstring& line) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    messages_.push_back(line);
}

bool ServerLink::FirstTime(int key) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    const unsigned long long bit = 1ull << key;
    if (onceSaid_ & bit) return false;
    onceSaid_ |= bit;
    return true;
}

void ServerLink::Abandon() {
    for (UniqueInternet& h : retired_) (void)h.release();
    (void)connect_.release();
    (void)session_.release();
    (void)job_.release();
    (void)server_.release();
}

void ServerLink::Close() {
    mirelo::ExclusiveLock::Guard guard(lock_);
    retired_.clear();
    connect_.reset();
    session_.reset();
    // Ending the job ends the server this extension started, and its workers with it.
    if (server_ && !serverInJob_) ::TerminateProcess(server_.get(), 0);
    job_.reset();
    server_.reset();
    messages_.clear();
    haveSettings_ = usable_ = checking_ = false;
}

}  // namespace textractor

#include "server_link.h"

#include "code_pages.h"
#include "ext_messages.h"
#include "locks.h"
#include "mirelo_version.h"
#include "program_text.h"
#include "module_path.h"

#include <algorithm>
#include <cwctype>
#include <optional>
#include <nlohmann/json.hpp>

namespace textractor {

// What /status says. `folder`, `dictionary` and `dictionaryProblems` come from servers that
// report them; an older server leaves them empty.
struct Status {
    bool mirelo = false;
    bool ready = false;
    std::string plugin;
    std::string problem;
    std::wstring folder;
    std::wstring dictionary;
    std::vector<std::wstring> dictionaryProblems;
};

namespace {

constexpr DWORD kStatusTimeoutMs = 1000;
// How long a server this extension started may take to answer at all, and how long one that
// answers may stay "starting" (its first worker may be showing the engine-folder question).
constexpr ULONGLONG kStartWaitMs = 20000;
constexpr ULONGLONG kStartingWaitMs = 60000;
// A server still starting after this long is said to be waiting, perhaps on the question.
constexpr ULONGLONG kStartingSayMs = 3000;
constexpr DWORD kPollStartingMs = 250;
constexpr DWORD kPollUnansweredMs = 100;
constexpr DWORD kSecondLookMs = 250;
// An old server is given this long to go before a new one takes its port.
constexpr DWORD kEndServerWaitMs = 5000;
// After a start of ours that never became ready, the next start waits this long.
constexpr ULONGLONG kStartPauseMs = 30000;
// While the server is usable, /status is read this often for the console (dictionary).
constexpr ULONGLONG kRefreshMs = 15000;
// "Connection lost" and "reconnected" are never said closer together than this.
constexpr ULONGLONG kNoticeGapMs = 5000;
constexpr size_t kDictProblemsShown = 5;
// Where the plug-in looks for the engine's folder before it asks the player.
constexpr wchar_t kEngineKey[] = L"Software\\Kestrow\\Mirelo";
constexpr wchar_t kEngineValue[] = L"FilePath";

std::wstring Wide(const nlohmann::json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? mirelo::Utf8ToWide(it->get<std::string>())
                                            : std::wstring();
}

// One problem as a string, or as {"file", "line", "reason"}.
std::wstring ProblemText(const nlohmann::json& p) {
    if (p.is_string()) return mirelo::Utf8ToWide(p.get<std::string>());
    if (!p.is_object()) return {};
    std::wstring where = Wide(p, "file");
    const auto line = p.find("line");
    if (line != p.end() && line->is_number_unsigned())
        where += L":" + std::to_wstring(line->get<unsigned long long>());
    return Words(Say::kDictProblem, {where.empty() ? L"?" : where, Wide(p, "reason")});
}

// Nothing when the body is not a JSON object; a field missing or of another kind reads as empty.
std::optional<Status> ReadStatus(const std::string& body) {
    const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    if (!j.is_object()) return std::nullopt;
    const auto ready = j.find("engine_ready");
    Status st;
    st.mirelo = Wide(j, "server") == L"mirelo-server";
    st.ready = ready != j.end() && ready->is_boolean() && ready->get<bool>();
    st.plugin = mirelo::WideToUtf8(Wide(j, "plugin"));
    st.problem = mirelo::WideToUtf8(Wide(j, "plugin_problem"));
    st.folder = Wide(j, "folder");
    st.dictionary = Wide(j, "dictionary");
    const auto problems = j.find("dictionary_problems");
    if (problems != j.end() && problems->is_array())
        for (const nlohmann::json& p : *problems) {
            std::wstring text = ProblemText(p);
            if (!text.empty()) st.dictionaryProblems.push_back(std::move(text));
        }
    return st;
}

std::wstring Address(const Settings& s) {
    return s.host + L":" + std::to_wstring(s.port);
}

std::wstring FolderKey(std::wstring f) {
    std::replace(f.begin(), f.end(), L'/', L'\\');
    while (!f.empty() && f.back() == L'\\') f.pop_back();
    for (wchar_t& c : f) c = static_cast<wchar_t>(std::towlower(c));
    return f;
}

bool EngineFolderRecorded() {
    wchar_t value[MAX_PATH] = {};
    DWORD bytes = sizeof(value);
    return ::RegGetValueW(HKEY_CURRENT_USER, kEngineKey, kEngineValue, RRF_RT_REG_SZ, nullptr,
                          value, &bytes) == ERROR_SUCCESS &&
           value[0] != L'\0';
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
    try {
        Link().Check();
    } catch (...) {
        // Out of memory: the next sentence starts another check.
    }
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
    // Sentences that come before the search begun at load has run wait for it too.
    waitUntil_ = ::GetTickCount64() + kServerWaitMs;
}

void ServerLink::Begin(const Settings& settings) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    if (!ConnectionLocked(settings)) return;
    const ULONGLONG now = ::GetTickCount64();
    waitUntil_ = now + kServerWaitMs;
    MaybeCheckLocked(now);
}

HINTERNET ServerLink::ConnectionLocked(const Settings& s) {
    // A server this extension started for other settings is ended and, on the same port,
    // started again with the new --options.
    if (haveSettings_ && own_.Has() && !endServer_ &&
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
        noStartBefore_ = 0;
        downSaid_.clear();
    } else {
        current_ = s;
    }
    if (!session_) session_.reset(OpenSession(L"Mirelo Translate/" MIRELO_VERSION));
    if (session_ && !connect_)
        connect_.reset(::WinHttpConnect(session_.get(), s.host.c_str(), s.port, 0));
    return connect_.get();
}

void ServerLink::MaybeCheckLocked(ULONGLONG now) {
    if (checking_) return;
    const ULONGLONG every = usable_ ? kRefreshMs : kRecheckMs;
    if (lastCheck_ != 0 && now - lastCheck_ < every) return;
    // The check's thread keeps the DLL loaded until it ends, so that an unload meanwhile
    // neither pulls the code from under it nor waits for it inside DllMain.
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&CheckerMain), &self))
        return;
    checking_ = true;
    refreshing_ = usable_;
    lastCheck_ = now;
    HANDLE thread = ::CreateThread(nullptr, 0, CheckerMain, self, 0, nullptr);
    if (!thread) {
        checking_ = false;
        ::FreeLibrary(self);
        return;
    }
    ::CloseHandle(thread);
}

// The connection once the server is usable; null when it is not and no start of ours is
// under way that it may wait for (until `waitEnd` at most).
HINTERNET ServerLink::WaitUsable(const Settings& s, ULONGLONG waitEnd) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    HINTERNET connection = ConnectionLocked(s);
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        MaybeCheckLocked(now);
        if (!connection || !current_.SameServer(s)) return nullptr;
        if (usable_) return connection;
        const ULONGLONG end = std::min(waitUntil_, waitEnd);
        if (now >= end) return nullptr;
        ::SleepConditionVariableSRW(&settled_, &lock_, static_cast<DWORD>(end - now), 0);
    }
}

Translation ServerLink::AskServer(const Settings& settings, std::wstring_view text,
                                  const std::string& game) {
    const ULONGLONG arrival = ::GetTickCount64();
    const ULONGLONG waitEnd = arrival + kServerWaitMs;
    Translation t;
    // A second try when the server turned out to be gone: the check starts it again at once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        HINTERNET connection = WaitUsable(settings, waitEnd);
        if (!connection) return Translation{};
        t = Translation{};
        const ULONGLONG deadline = std::min(::GetTickCount64(), waitEnd) + kCallBudgetMs;
        if (SendLines(connection, settings, text, game, deadline, t) == Sent::kDone) break;
    }
    return t;
}

ServerLink::Sent ServerLink::SendLines(HINTERNET connection, const Settings& s,
                                       std::wstring_view text, const std::string& game,
                                       ULONGLONG deadline, Translation& t) {
    // One GET per line, each in one segment: a POST's body goes out as a second small write,
    // which waits on the server's delayed acknowledgement (40 ms a request under Wine).
    bool translated = false, timedOut = false, failed = false, reached = false;
    t.outcome = Outcome::kFailed;
    for (const programs::TextLine<wchar_t>& part : programs::SplitLines(text)) {
        const std::wstring_view line = part.text, ending = part.end;
        if (programs::IsBlank(line) || ::GetTickCount64() >= deadline) {
            timedOut = timedOut || !programs::IsBlank(line);
            t.text.append(line).append(ending);
            continue;
        }
        Answer ex;
        std::wstring path = L"/translate?text=" + PercentEncode(mirelo::WideToUtf8(line));
        if (!game.empty()) path += L"&game=" + PercentEncode(game);
        if (!Exchange(connection, path.c_str(), deadline, ex)) {
            // A server that does not answer in time is looked at again before the next line
            // waits on it: the check sees whether it still answers /status.
            const bool gone = ex.error != ERROR_WINHTTP_TIMEOUT;
            Lost(s, gone);
            if (gone) return Sent::kLost;
            timedOut = true;
            // This line and all after it stay as they are.
            t.text.append(text.substr(line.data() - text.data()));
            break;
        }
        reached = true;
        if (ex.status == 503) {
            // Up but not ready (its plug-in is restarting): the check says why.
            Lost(s, false);
            t.outcome = Outcome::kNotReady;
            return Sent::kDone;
        } else if (ex.status == 200) {
            t.text += mirelo::Utf8ToWide(ex.body);
            t.text.append(ending);
            translated = true;
            continue;
        } else if (ex.status >= 300 && ex.status < 400) {
            // Mirelo's server never redirects: whatever answered is looked at again.
            Lost(s, false);
            return Sent::kDone;
        } else if (ex.status == 504) {
            timedOut = true;  // the plug-in gave up on it after its 3 s
        } else {
            failed = true;  // 422: the engine gave nothing
        }
        t.text.append(line).append(ending);
    }
    if (reached) Reached();
    if (timedOut && FirstTime(static_cast<int>(Say::kLineTimedOut)))
        this->Say(Words(Say::kLineTimedOut, {std::to_wstring(kPluginLineMs / 1000)}));
    if (failed && FirstTime(static_cast<int>(Say::kLineFailed))) this->Say(Words(Say::kLineFailed));
    if (translated) t.outcome = Outcome::kTranslated;
    return Sent::kDone;
}

void ServerLink::Lost(const Settings& s, bool connectionFailed) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    if (!current_.SameServer(s) || !usable_) return;
    usable_ = false;
    lastCheck_ = 0;  // look again at once, not a recheck period later
    const ULONGLONG now = ::GetTickCount64();
    if (connectionFailed) {
        lost_ = true;
        // The check starts a server again at once; sentences meanwhile wait for it.
        waitUntil_ = now + kServerWaitMs;
    }
    MaybeCheckLocked(now);
}

void ServerLink::Reached() {
    mirelo::ExclusiveLock::Guard guard(lock_);
    lost_ = false;
}

void ServerLink::FlushNoticesLocked(ULONGLONG now) {
    if (lost_ == lostSaid_ || (noticeAt_ != 0 && now - noticeAt_ < kNoticeGapMs)) return;
    lostSaid_ = lost_;
    noticeAt_ = now;
    messages_.push_back(Words(lost_ ? Say::kServerLost : Say::kServerBack));
}

void ServerLink::AnnounceLocked(const Status& st) {
    const bool ours = own_.Running();
    const std::wstring key = ours ? L"ours " + std::to_wstring(own_.Starts())
                                  : L"other " + Address(current_) + L" " + FolderKey(st.folder);
    if (key != readyFor_) {
        readyFor_ = key;
        if (ours) {
            messages_.push_back(Words(Say::kServerReady, {Address(current_)}));
        } else {
            messages_.push_back(Words(Say::kServerOther,
                                      {Address(current_), st.folder.empty() ? L"?" : st.folder}));
            const std::wstring mine = mirelo::ModuleFolder(module_) + L"\\MireloDict";
            const std::wstring theirs = !st.dictionary.empty() ? st.dictionary
                                        : !st.folder.empty()   ? st.folder + L"\\MireloDict"
                                                               : std::wstring();
            const unsigned long long once = 1ull << static_cast<int>(Say::kDictElsewhere);
            if (!theirs.empty() && FolderKey(theirs) != FolderKey(mine) && !(onceSaid_ & once)) {
                onceSaid_ |= once;
                messages_.push_back(Words(Say::kDictElsewhere, {theirs, mine}));
            }
        }
    }
    std::wstring all;
    for (const std::wstring& p : st.dictionaryProblems) all += p + L"\n";
    if (all == dictProblems_) return;
    if (all.empty()) messages_.push_back(Words(Say::kDictFixed));
    for (size_t i = 0; i < st.dictionaryProblems.size() && i < kDictProblemsShown; ++i)
        messages_.push_back(st.dictionaryProblems[i]);
    if (st.dictionaryProblems.size() > kDictProblemsShown)
        messages_.push_back(Words(
            Say::kDictMore, {std::to_wstring(st.dictionaryProblems.size() - kDictProblemsShown)}));
    dictProblems_ = std::move(all);
}

void ServerLink::Finish(const Settings& s, bool usable, const std::wstring& message,
                        const Status* status) {
    mirelo::ExclusiveLock::Guard guard(lock_);
    ::WakeAllConditionVariable(&settled_);
    checking_ = false;
    lastCheck_ = ::GetTickCount64();
    if (!current_.SameServer(s)) return;  // the settings moved on while it ran
    if (status && status->mirelo) AnnounceLocked(*status);
    if (refreshing_) {
        refreshing_ = false;
        return;  // a look for the console only; the sentences say whether it still works
    }
    usable_ = usable;
    if (!usable) waitUntil_ = 0;
    if (usable) {
        if (!downSaid_.empty()) messages_.push_back(Words(Say::kServerBack));
        downSaid_.clear();
    } else if (!message.empty() && message != downSaid_) {
        downSaid_ = message;
        messages_.push_back(message);
    }
}

bool ServerLink::StartServer(const Settings& s, std::wstring& problem) {
    const std::wstring folder = OwnServer::Folder(module_, s.serverFolder);
    const std::wstring exe = folder + L"\\mirelo-server.exe";
    const DWORD attributes = ::GetFileAttributesW(exe.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = Words(Say::kServerMissing, {exe});
        return false;
    }
    const std::wstring& options = s.options;
    std::wstring command =
        L"\"" + exe + L"\" --port " + std::to_wstring(s.port) + L" --options " + options;
    // The hidden server's plug-in may ask the player for "Mirelo"'s folder: say first which.
    if (!EngineFolderRecorded() && FirstTime(static_cast<int>(Say::kEngineQuestion)))
        this->Say(Words(Say::kEngineQuestion));
    mirelo::UniqueHandle process, thread;
    DWORD error = 0;
    if (!OwnServer::Create(exe, folder, std::move(command), process, thread, error)) {
        problem = Words(Say::kServerStartFailed, {exe, std::to_wstring(error)});
        return false;
    }
    mirelo::ExclusiveLock::Guard guard(lock_);
    if (!own_.Adopt(std::move(process), thread.get(), error)) {
        problem = Words(Say::kServerStartFailed, {exe, std::to_wstring(error)});
        return false;
    }
    waitUntil_ = std::max(waitUntil_, ::GetTickCount64() + kServerWaitMs);
    messages_.push_back(
        Words(Say::kServerStarted, {Address(s), options, std::to_wstring(kServerWaitMs / 1000)}));
    return true;
}

// One look at /status.
ServerLink::Look ServerLink::Probe(const Settings& s, HINTERNET connection, ULONGLONG begin,
                                   bool started, bool& saidWaiting) {
    Answer ex;
    bool answered = Exchange(connection, L"/status", ::GetTickCount64() + kStatusTimeoutMs, ex);
    if (!answered && !started && NothingListens(ex.error)) {
        // A refusal can pass (a busy server's full queue): look once more before a server is
        // started on a port that may be taken.
        ::Sleep(kSecondLookMs);
        ex = Answer{};
        answered = Exchange(connection, L"/status", ::GetTickCount64() + kStatusTimeoutMs, ex);
    }
    if (!answered) {
        if (started || NothingListens(ex.error)) return Look::kNoAnswer;
        bool oursAlive = false;
        {
            mirelo::ExclusiveLock::Guard guard(lock_);
            oursAlive = own_.Running();
        }
        // Whatever holds the port and does not answer as Mirelo's server does is another
        // program, unless it is the busy server this extension started.
        Finish(s, false, oursAlive ? std::wstring() : Words(Say::kNotMirelo, {Address(s)}));
        return Look::kDone;
    }
    const std::optional<Status> st = ex.status == 200 ? ReadStatus(ex.body) : std::nullopt;
    if (!st || !st->mirelo) {
        Finish(s, false, Words(Say::kNotMirelo, {Address(s)}));
    } else if (st->ready) {
        Finish(s, true, {}, &*st);
    } else if (st->plugin == "failed" || st->plugin == "retrying") {
        const std::wstring why = mirelo::Utf8ToWide(st->problem);
        Finish(s, false, Words(Say::kEngineNotReady, {why.empty() ? L"?" : why}), &*st);
    } else if (::GetTickCount64() - begin > kStartingWaitMs) {
        Finish(s, false, Words(Say::kServerWaiting), &*st);
    } else {
        // Still starting: its first worker may be asking the player for the engine folder.
        if (!saidWaiting && ::GetTickCount64() - begin > kStartingSayMs) {
            saidWaiting = true;
            this->Say(Words(Say::kServerWaiting));
        }
        ::Sleep(kPollStartingMs);
        return Look::kStarting;
    }
    return Look::kDone;
}

// The server this extension started has not answered yet: true, once said, when it has exited
// or taken too long, and the next start is put off.
bool ServerLink::StartGaveUp(const Settings& s, ULONGLONG begin, ULONGLONG now) {
    DWORD code = STILL_ACTIVE;
    {
        mirelo::ExclusiveLock::Guard guard(lock_);
        code = own_.ExitCode();
    }
    const bool exited = code != STILL_ACTIVE;
    if (!exited && now - begin <= kStartWaitMs) return false;
    {
        mirelo::ExclusiveLock::Guard guard(lock_);
        noStartBefore_ = now + kStartPauseMs;
    }
    Finish(s, false,
           exited ? Words(Say::kServerExited, {std::to_wstring(code), std::to_wstring(s.port)})
                  : Words(Say::kServerSlow, {std::to_wstring(kStartWaitMs / 1000)}));
    return true;
}

void ServerLink::Check() {
    Settings s;
    HINTERNET connection = nullptr;
    mirelo::UniqueHandle old;
    bool refresh = false;
    {
        mirelo::ExclusiveLock::Guard guard(lock_);
        s = current_;
        connection = connect_.get();
        refresh = refreshing_;
        if (endServer_) old = own_.Take();
        endServer_ = false;
    }
    if (old) {
        // Its workers end with it (its own job); its port is free once it has gone.
        ::TerminateProcess(old.get(), 0);
        ::WaitForSingleObject(old.get(), kEndServerWaitMs);
    }
    if (!connection) return Finish(s, false, Words(Say::kServerLost));
    const ULONGLONG begin = ::GetTickCount64();
    bool started = false;
    bool saidWaiting = false;
    for (;;) {
        const Look look = Probe(s, connection, begin, started, saidWaiting);
        if (look == Look::kDone) return;
        if (refresh) return Finish(s, false, {});
        if (look == Look::kStarting) continue;
        const ULONGLONG now = ::GetTickCount64();
        if (started) {
            if (StartGaveUp(s, begin, now)) return;
            ::Sleep(kPollUnansweredMs);
            continue;
        }
        {
            mirelo::ExclusiveLock::Guard guard(lock_);
            // Said when that start ended; no loop of starts meanwhile.
            if (now < noStartBefore_) break;
        }
        std::wstring problem;
        if (!StartServer(s, problem)) return Finish(s, false, problem);
        started = true;
    }
    Finish(s, false, {});
}

std::vector<std::wstring> ServerLink::TakeMessages() {
    mirelo::ExclusiveLock::Guard guard(lock_);
    FlushNoticesLocked(::GetTickCount64());
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
    own_.Abandon();
}

void ServerLink::Close() {
    mirelo::ExclusiveLock::Guard guard(lock_);
    retired_.clear();
    connect_.reset();
    session_.reset();
    AwaitCallbacks();
    own_.Close();
    messages_.clear();
    haveSettings_ = usable_ = checking_ = false;
}

}  // namespace textractor

#pragma once
// The extension's one connection to mirelo-server over WinHTTP: whether the server on the
// configured port is usable, the background check that finds it (or starts one, whose
// process is OwnServer's, own_server.h), and the translation request itself. A sentence waits for a
// server this extension is starting (at load, or again after it died) until it is ready, at most
// kServerWaitMs after the start; then each line's exchange keeps to kCallBudgetMs. A server that is
// down, not Mirelo's or whose engine cannot start is answered at once.

#include "exchange.h"
#include "ext_settings.h"
#include "handles.h"
#include "own_server.h"

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <string_view>
#include <vector>

namespace textractor {

// The plug-in gives up on a line after this long; the server answers such a line as failed
// soon after.
inline constexpr DWORD kPluginLineMs = 3000;
// This much more covers the hop, never the line after it.
inline constexpr DWORD kCallBudgetMs = kPluginLineMs + 400;
// How long sentences wait for a server this extension has just started (under Wine the
// server and its first worker are ready in 2-4 s).
inline constexpr ULONGLONG kServerWaitMs = 8000;
// A background check runs at most once in this many milliseconds.
inline constexpr ULONGLONG kRecheckMs = 3000;

enum class Outcome {
    kTranslated,  // text holds the translation (lines the server could not translate as sent)
    kNotReady,    // the server is down, starting or not Mirelo's: answered at once
    kFailed,      // the request failed or took too long; the reason was queued for the console
};

struct Translation {
    Outcome outcome = Outcome::kNotReady;
    std::wstring text;
};

struct Status;

class ServerLink {
  public:
    // `module` is the extension's own DLL: its folder holds mirelo-server.exe by default.
    void Attach(HMODULE module);
    // At load, in the background: finds or starts the server for `settings`.
    void Begin(const Settings& settings);
    // `game` (folded; empty: none) is sent with each line so that its own entries apply.
    Translation AskServer(const Settings& settings, std::wstring_view text,
                          const std::string& game = {});
    // Console lines waiting to be shown (the background check cannot call into Textractor).
    std::vector<std::wstring> TakeMessages();
    void Say(const std::wstring& line);
    // Once per load: true the first time it is called for `key`.
    bool FirstTime(int key);
    // At unload: closes the connections and ends the server this extension started.
    void Close();
    // At process exit: lets every handle go unclosed, since the threads WinHTTP may need are
    // gone by then; the system closes them (and the job, ending the server).
    void Abandon();

    // The background check; runs on a thread of its own (see server_link.cpp).
    void Check();

  private:
    enum class Sent { kDone, kLost };
    HINTERNET ConnectionLocked(const Settings& s);
    HINTERNET WaitUsable(const Settings& s, ULONGLONG waitEnd);
    Sent SendLines(HINTERNET connection, const Settings& s, std::wstring_view text,
                   const std::string& game, ULONGLONG deadline, Translation& t);
    void MaybeCheckLocked(ULONGLONG now);
    void Lost(const Settings& s, bool connectionFailed);
    void Reached();
    enum class Look { kDone, kStarting, kNoAnswer };
    Look Probe(const Settings& s, HINTERNET connection, ULONGLONG begin, bool started,
               bool& saidWaiting);
    bool StartServer(const Settings& s, std::wstring& problem);
    bool StartGaveUp(const Settings& s, ULONGLONG begin, ULONGLONG now);
    void Finish(const Settings& s, bool usable, const std::wstring& message,
                const Status* status = nullptr);
    void AnnounceLocked(const Status& st);
    void FlushNoticesLocked(ULONGLONG now);

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE settled_ = CONDITION_VARIABLE_INIT;  // a check finished
    HMODULE module_ = nullptr;
    Settings current_;
    bool haveSettings_ = false;
    bool usable_ = false;
    bool checking_ = false;
    bool refreshing_ = false;  // the running check only reads /status for the console
    ULONGLONG lastCheck_ = 0;
    ULONGLONG waitUntil_ = 0;      // sentences wait for a starting server until then
    ULONGLONG noStartBefore_ = 0;  // a start of ours ended unready: no new one before then
    UniqueInternet session_;
    UniqueInternet connect_;
    // Connections to an earlier address: another thread may still be using one.
    std::vector<UniqueInternet> retired_;
    OwnServer own_;           // the server process this extension started, if any
    bool endServer_ = false;  // ours no longer matches the settings: the check ends it first
    std::wstring downSaid_;   // the last reason given for not translating
    // "Connection lost" and "reconnected": said once per change, kNoticeGapMs apart at least.
    bool lost_ = false;
    bool lostSaid_ = false;
    ULONGLONG noticeAt_ = 0;
    std::wstring readyFor_;      // the server whose readiness was said last
    std::wstring dictProblems_;  // the dictionary problems said last
    std::vector<std::wstring> messages_;
    unsigned long long onceSaid_ = 0;
};

ServerLink& Link();

}  // namespace textractor

// mirelo-server: Mirelo's translations over HTTP on the local machine.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "diagnose.h"
#include "http_server.h"
#include "plugin_host.h"
#include "server_args.h"
#include "translator.h"

using namespace server;

namespace {

// The console handler may run at any moment, wmain's return included: it reaches the server
// only under this lock, and only while wmain still has it. (Constant-initialised and never
// destroyed with this thread model, so it also outlasts the end of the program.)
std::mutex g_serverLock;
HttpServer* g_server = nullptr;
HANDLE g_closed = nullptr;  // set once the plug-in has been closed and unloaded
std::atomic<bool> g_stopRequested{false};

// Runs on a thread of its own. Returning ends the process (at once for a closed console), so
// it waits for the plug-in to be closed first; Windows gives a closing console 5 seconds.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (!g_stopRequested.exchange(true)) {
        std::fputs("mirelo-server: stopping\n", stdout);
        std::fflush(stdout);
        std::lock_guard lock(g_serverLock);
        if (g_server) g_server->Stop();
    }
    WaitForSingleObject(g_closed, 10000);
    return TRUE;
}

// Lets the console handler reach `server` for as long as this lives.
class ServerForConsole {
  public:
    explicit ServerForConsole(HttpServer& server) {
        std::lock_guard lock(g_serverLock);
        g_server = &server;
    }
    ~ServerForConsole() {
        std::lock_guard lock(g_serverLock);
        g_server = nullptr;
    }
    ServerForConsole(const ServerForConsole&) = delete;
    ServerForConsole& operator=(const ServerForConsole&) = delete;
};

void Say(const std::string& s) {
    std::fputs(s.c_str(), stdout);
    std::fflush(stdout);
}

bool IsLoopback(const std::string& host) {
    return host.rfind("127.", 0) == 0 || host == "::1";
}

void PrintConfiguration(const std::string& url) {
    Say("mirelo-server " MIRELO_VERSION ": listening on " + url +
        "\n"
        "\n"
        "Unity game translator, custom endpoint (its config.ini):\n"
        "  [Service]\n"
        "  Endpoint=CustomTranslate\n"
        "  [Custom]\n"
        "  Url=" +
        url +
        "/translate\n"
        "\n"
        "Any other tool, or by hand:\n"
        "  curl \"" +
        url +
        "/translate?text=%E3%81%93%E3%82%93%E3%81%AB%E3%81%A1%E3%81%AF\"\n"
        "  curl --data-binary @lines.txt -H \"Content-Type: text/plain\" " +
        url +
        "/translate\n"
        "  curl " +
        url +
        "/status\n"
        "\n"
        "Starting the plug-in... (Ctrl+C or closing this window stops the server)\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    ParsedServerArgs parsed = ParseServerArgs(std::vector<std::wstring>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "mirelo-server: %s (see --help)\n", parsed.error.c_str());
        return kExitUsage;
    }
    const ServerArgs& args = parsed.args;
    if (args.help) {
        Say(ServerHelpText());
        return kExitOk;
    }
    if (args.diagnose) {
        const host::Diagnosis d = host::Diagnose();
        Say(d.report);
        return d.ready ? kExitOk : kExitInit;
    }

    Translator translator({host::PluginPath(args.plugin), args.options, args.queue});
    HttpServer http(translator, {args.cors, std::chrono::seconds(args.timeoutSeconds)});
    std::string error;
    if (!http.Listen(args.host, args.port, error)) {
        std::fprintf(stderr, "mirelo-server: %s\n", error.c_str());
        return kExitListen;
    }
    if (args.listenGiven && !IsLoopback(args.host))
        std::fprintf(stderr,
                     "mirelo-server: warning: listening on %s: other machines that can reach this "
                     "address can use the server; it has no access control\n",
                     args.host.c_str());
    const std::string url =
        "http://" + (args.host.find(':') != std::string::npos ? "[" + args.host + "]" : args.host) +
        ":" + std::to_string(args.port);
    PrintConfiguration(url);

    g_closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const ServerForConsole console(http);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);

    int exitCode = kExitOk;
    translator.Start([&](Translator::State state, const std::string& message) {
        if (state == Translator::State::kReady) return Say("Plug-in ready.\n");
        std::fprintf(stderr, "mirelo-server: %s\n", message.c_str());
        const host::Diagnosis d = host::Diagnose();
        if (!d.ready) std::fputs(d.report.c_str(), stderr);
        exitCode = message.rfind("OnPluginInit", 0) == 0 ? kExitInit : kExitLoad;
        http.Stop();
    });
    http.Run();
    translator.Stop();
    Say("mirelo-server: plug-in closed\n");
    SetEvent(g_closed);
    return exitCode;
}

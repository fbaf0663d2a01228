#include "server_args.h"

namespace server {
namespace {

std::string Ascii(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s;
}

bool ParseNumber(const std::string& s, unsigned long min, unsigned long max, unsigned long& out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoul(s);
    return out >= min && out <= max;
}

}  // namespace

ParsedServerArgs ParseServerArgs(const std::vector<std::wstring>& argv) {
    ParsedServerArgs r;
    ServerArgs& a = r.args;
    for (std::size_t i = 0; i < argv.size() && r.error.empty(); ++i) {
        const std::wstring& arg = argv[i];
        auto value = [&]() -> std::wstring {
            if (i + 1 < argv.size()) return argv[++i];
            r.error = Ascii(arg) + " needs a value";
            return {};
        };
        unsigned long n = 0;
        if (arg == L"--help" || arg == L"-h") {
            a.help = true;
        } else if (arg == L"--diagnose") {
            a.diagnose = true;
        } else if (arg == L"--port") {
            if (!ParseNumber(Ascii(value()), 1, 65535, n)) r.error = "--port takes 1 to 65535";
            a.port = static_cast<unsigned short>(n);
        } else if (arg == L"--listen") {
            const std::string v = Ascii(value());
            const std::size_t colon = v.rfind(':');
            std::string host = colon == std::string::npos ? "" : v.substr(0, colon);
            if (host.size() > 2 && host.front() == '[' && host.back() == ']')
                host = host.substr(1, host.size() - 2);
            if (host.empty() || !ParseNumber(v.substr(colon + 1), 1, 65535, n))
                r.error = "--listen takes HOST:PORT, e.g. 192.168.0.5:14366";
            a.host = host;
            a.port = static_cast<unsigned short>(n);
            a.listenGiven = true;
        } else if (arg == L"--cors") {
            a.cors = Ascii(value());
            if (a.cors.empty() || a.cors.find_first_of("\r\n?") != std::string::npos)
                r.error = "--cors takes an origin such as http://localhost:8080";
        } else if (arg == L"--plugin") {
            a.plugin = value();
            if (a.plugin.empty() && r.error.empty()) r.error = "--plugin needs a path";
        } else if (arg == L"--options") {
            const std::wstring v = value();
            a.options = Ascii(v);
            if (v.size() > 15 || a.options.find('?') != std::string::npos)
                r.error = "--options takes at most 15 ASCII characters";
        } else if (arg == L"--queue") {
            if (!ParseNumber(Ascii(value()), 1, 1000000, n)) r.error = "--queue takes 1 to 1000000";
            a.queue = n;
        } else if (arg == L"--timeout") {
            if (!ParseNumber(Ascii(value()), 1, 3600, n))
                r.error = "--timeout takes 1 to 3600 seconds";
            a.timeoutSeconds = static_cast<int>(n);
        } else {
            r.error = "unknown argument " + Ascii(arg);
        }
    }
    return r;
}

std::string ServerHelpText() {
    const std::string port = std::to_string(kDefaultPort);
    return "Usage: mirelo-server [options]\n"
           "Serves the translations of Mirelo.dll over HTTP on this machine, for tools that\n"
           "cannot load a 32-bit DLL. Stop it with Ctrl+C or by closing its window.\n"
           "\n"
           "  --port N              port on 127.0.0.1 (default: " +
           port +
           ")\n"
           "  --listen HOST:PORT    listen on another address instead; every machine that can\n"
           "                        reach it can use the server (a warning is printed)\n"
           "  --cors ORIGIN         let web pages from ORIGIN read the answers (default: none)\n"
           "  --plugin PATH         plug-in to load (default: Mirelo.dll beside this program)\n"
           "  --options STR         option string handed to the plug-in (default: empty)\n"
           "  --queue N             lines that may wait for the plug-in (default: 20000);\n"
           "                        beyond that the answer is 503 with Retry-After\n"
           "  --timeout S           seconds a request's lines may wait (default: 60); lines not\n"
           "                        started by then count as not answered in time\n"
           "  --diagnose            check where the plug-in will look for the engine and what\n"
           "                        it will find there, then exit (0 when it looks ready, 5 not)\n"
           "  --help                this text\n"
           "\n"
           "Endpoints (UTF-8):\n"
           "  GET  /translate?text=...        the translation as text/plain\n"
           "  POST /translate  text/plain     one answer line per line\n"
           "  POST /translate  application/json  {\"text\": ...} or {\"texts\": [...]}\n"
           "  GET  /status                    counters as JSON\n"
           "\n"
           "Exit codes: 0 stopped cleanly, 1 bad command line, 2 cannot listen,\n"
           "3 plug-in cannot be loaded, 5 the plug-in did not start.\n";
}

}  // namespace server

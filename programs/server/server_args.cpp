#include "server_args.h"

#include "messages.h"

using host::Format;
using host::Msg;
using host::Text;

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
            r.error = Format(Msg::kArgNeedsValue, {Ascii(arg)});
            return {};
        };
        unsigned long n = 0;
        if (arg == L"--help" || arg == L"-h") {
            a.help = true;
        } else if (arg == L"--version") {
            a.version = true;
        } else if (arg == L"--diagnose") {
            a.diagnose = true;
        } else if (arg == L"--lang" || arg.rfind(L"--lang=", 0) == 0) {
            // Chosen before parsing (ChooseLanguage); here only checked, in either form.
            const std::wstring v = arg.size() > 6 ? arg.substr(7) : value();
            if (r.error.empty() && v != L"ko" && v != L"en") r.error = Text(Msg::kArgLang);
        } else if (arg == L"--port") {
            if (!ParseNumber(Ascii(value()), 1, 65535, n)) r.error = Text(Msg::kServerArgPort);
            a.port = static_cast<unsigned short>(n);
        } else if (arg == L"--listen") {
            const std::string v = Ascii(value());
            const std::size_t colon = v.rfind(':');
            std::string host = colon == std::string::npos ? "" : v.substr(0, colon);
            if (host.size() > 2 && host.front() == '[' && host.back() == ']')
                host = host.substr(1, host.size() - 2);
            if (host.empty() || !ParseNumber(v.substr(colon + 1), 1, 65535, n))
                r.error = Text(Msg::kServerArgListen);
            a.host = host;
            a.port = static_cast<unsigned short>(n);
            a.listenGiven = true;
        } else if (arg == L"--cors") {
            a.cors = Ascii(value());
            if (a.cors.empty() || a.cors.find_first_of("\r\n?") != std::string::npos)
                r.error = Text(Msg::kServerArgCors);
        } else if (arg == L"--plugin") {
            a.plugin = value();
            if (a.plugin.empty() && r.error.empty()) r.error = Text(Msg::kArgPluginPath);
        } else if (arg == L"--options") {
            const std::wstring v = value();
            a.options = Ascii(v);
            if (v.size() > 15 || a.options.find('?') != std::string::npos)
                r.error = Text(Msg::kServerArgOptions);
        } else if (arg == L"--queue") {
            if (!ParseNumber(Ascii(value()), 1, 1000000, n)) r.error = Text(Msg::kServerArgQueue);
            a.queue = n;
        } else if (arg == L"--timeout") {
            if (!ParseNumber(Ascii(value()), 1, 3600, n)) r.error = Text(Msg::kServerArgTimeout);
            a.timeoutSeconds = static_cast<int>(n);
        } else if (arg == L"--translate-file" || arg == L"--out") {
            std::wstring& file = arg == L"--out" ? a.outFile : a.translateFile;
            file = value();
            if (file.empty() && r.error.empty())
                r.error = Format(Msg::kArgNeedsValue, {Ascii(arg)});
        } else if (arg == L"--workers") {
            if (!ParseNumber(Ascii(value()), 1, kMaxWorkers, n))
                r.error = Text(Msg::kServerArgWorkers);
            a.workers = static_cast<unsigned>(n);
        } else {
            r.error = Format(Msg::kServerArgUnknown, {Ascii(arg)});
        }
    }
    if (r.error.empty() && !a.outFile.empty() && a.translateFile.empty())
        r.error = Text(Msg::kServerArgOutAlone);
    return r;
}

std::string ServerHelpText() {
    return Format(Msg::kServerHelp, {std::to_string(kDefaultPort)});
}

}  // namespace server

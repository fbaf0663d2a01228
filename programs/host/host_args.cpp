#include "host_args.h"

#include "command_line.h"
#include "messages.h"

namespace host {
namespace {

std::string Ascii(const std::wstring& w) {
    return std::string(w.begin(), w.end());
}

bool IsAscii(const std::wstring& w) {
    for (wchar_t c : w)
        if (c >= 0x80) return false;
    return true;
}

// What the plug-in reads: two digits, or nothing for its own default. Anything else it
// would quietly take as the default.
bool IsOptionString(const std::wstring& s) {
    if (!s.empty() && s.size() != 2) return false;
    for (wchar_t c : s)
        if (c != L'0' && c != L'1') return false;
    return true;
}

bool ParseSize(const std::wstring& s, int& out) {
    if (s.empty() || s.size() > 9) return false;
    int v = 0;
    for (wchar_t c : s) {
        if (c < L'0' || c > L'9') return false;
        v = v * 10 + (c - L'0');
    }
    if (v < 1 || v > kMaxDestSize) return false;
    out = v;
    return true;
}

}  // namespace

ParsedArgs ParseArgs(const std::vector<std::wstring>& given) {
    const std::vector<std::wstring> argv = RepairStrayQuotes(given);
    ParsedArgs r;
    HostArgs& a = r.args;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        std::wstring arg = argv[i];
        std::wstring value;
        bool hasInlineValue = false;
        if (arg.rfind(L"--", 0) == 0) {
            if (auto eq = arg.find(L'='); eq != std::wstring::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInlineValue = true;
            }
        }
        auto takeValue = [&]() -> bool {
            if (hasInlineValue) return true;
            if (i + 1 >= argv.size()) {
                r.error = Format(Msg::kArgNeedsValue, {Ascii(arg)});
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto flag = [&](bool& f) {
            if (hasInlineValue) r.error = Format(Msg::kArgTakesNoValue, {Ascii(arg)});
            f = true;
        };

        if (arg == L"--help" || arg == L"-h") {
            flag(a.help);
        } else if (arg == L"--version") {
            flag(a.version);
        } else if (arg == L"--stats") {
            flag(a.stats);
        } else if (arg == L"--dialog") {
            flag(a.dialog);
        } else if (arg == L"--trace") {
            flag(a.trace);
        } else if (arg == L"--check-dict") {
            a.checkDict = true;  // FOLDER inline or as the one plain argument
            if (hasInlineValue) a.dictFolder = value;
        } else if (arg == L"--diagnose") {
            flag(a.diagnose);
        } else if (arg == L"--set-engine-folder") {
            if (!takeValue()) return r;
            if (value.empty()) r.error = Format(Msg::kArgNeedsValue, {Ascii(arg)});
            a.setEngineFolder = true;
            a.engineFolder = value;
        } else if (arg == L"--lang") {
            if (!takeValue()) return r;
            if (value != L"ko" && value != L"en") r.error = Text(Msg::kArgLang);
        } else if (arg == L"--plugin") {
            if (!takeValue()) return r;
            if (value.empty()) r.error = Text(Msg::kArgPluginPath);
            a.plugin = value;
        } else if (arg == L"--options") {
            if (!takeValue()) return r;
            if (!IsOptionString(value)) r.error = Text(Msg::kArgOptions);
            a.options = Ascii(value);
        } else if (arg == L"--dest-size") {
            if (!takeValue()) return r;
            if (!ParseSize(value, a.destSize))
                r.error = Format(Msg::kArgDestSize, {std::to_string(kMaxDestSize)});
        } else if (arg == L"--input-encoding") {
            if (!takeValue()) return r;
            a.inputEncodingGiven = true;
            if (value == L"utf8" || value == L"utf-8")
                a.input = InputEncoding::Utf8;
            else if (value == L"sjis" || value == L"shift-jis")
                a.input = InputEncoding::ShiftJis;
            else
                r.error = Text(Msg::kArgInputEncoding);
        } else if (arg == L"--output-encoding") {
            if (!takeValue()) return r;
            if (value == L"utf8" || value == L"utf-8")
                a.output = OutputEncoding::Utf8;
            else if (value == L"cp949")
                a.output = OutputEncoding::Cp949;
            else
                r.error = Text(Msg::kArgOutputEncoding);
        } else if (arg.size() > 1 && arg[0] == L'-') {
            r.error = Format(Msg::kArgUnknownOption,
                             {IsAscii(arg) ? Ascii(arg) : std::string("(non-ASCII)")});
        } else if (a.inputGiven) {
            r.error = Text(Msg::kArgOneInput);
        } else {
            a.inputFile = argv[i];
            a.inputGiven = true;
        }
        if (!r.error.empty()) return r;
    }
    if (a.checkDict && a.inputGiven) {
        if (!a.dictFolder.empty()) {
            r.error = Text(Msg::kArgOneFolder);
            return r;
        }
        a.dictFolder = a.inputFile;
        a.inputFile.clear();
        a.inputGiven = false;
    }
    return r;
}

const char* HelpText() {
    return Text(Msg::kHostHelp);
}

}  // namespace host

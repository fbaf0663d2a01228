#include "host_args.h"

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

ParsedArgs ParseArgs(const std::vector<std::wstring>& argv) {
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
                r.error = Ascii(arg) + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto flag = [&](bool& f) {
            if (hasInlineValue) r.error = Ascii(arg) + " takes no value";
            f = true;
        };

        if (arg == L"--help" || arg == L"-h") {
            flag(a.help);
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
        } else if (arg == L"--plugin") {
            if (!takeValue()) return r;
            if (value.empty()) r.error = "--plugin needs a path";
            a.plugin = value;
        } else if (arg == L"--options") {
            if (!takeValue()) return r;
            if (!IsAscii(value))
                r.error = "--options takes ASCII text";
            else if (value.size() >= kOptionBufferSize)
                r.error = "--options is longer than " + std::to_string(kOptionBufferSize - 1) +
                          " characters";
            a.options = Ascii(value);
        } else if (arg == L"--dest-size") {
            if (!takeValue()) return r;
            if (!ParseSize(value, a.destSize))
                r.error =
                    "--dest-size takes a whole number from 1 to " + std::to_string(kMaxDestSize);
        } else if (arg == L"--input-encoding") {
            if (!takeValue()) return r;
            if (value == L"utf8" || value == L"utf-8")
                a.input = InputEncoding::Utf8;
            else if (value == L"sjis" || value == L"shift-jis")
                a.input = InputEncoding::ShiftJis;
            else
                r.error = "--input-encoding is utf8 or sjis";
        } else if (arg == L"--output-encoding") {
            if (!takeValue()) return r;
            if (value == L"utf8" || value == L"utf-8")
                a.output = OutputEncoding::Utf8;
            else if (value == L"cp949")
                a.output = OutputEncoding::Cp949;
            else
                r.error = "--output-encoding is utf8 or cp949";
        } else if (arg.size() > 1 && arg[0] == L'-') {
            r.error = "unknown option " + (IsAscii(arg) ? Ascii(arg) : std::string("(non-ASCII)"));
        } else if (a.inputGiven) {
            r.error = "only one input file may be given";
        } else {
            a.inputFile = argv[i];
            a.inputGiven = true;
        }
        if (!r.error.empty()) return r;
    }
    if (a.checkDict && a.inputGiven) {
        if (!a.dictFolder.empty()) {
            r.error = "--check-dict takes one folder";
            return r;
        }
        a.dictFolder = a.inputFile;
        a.inputFile.clear();
        a.inputGiven = false;
    }
    return r;
}

const char* HelpText() {
    return "Usage: mirelo-host [options] [FILE]\n"
           "Loads a translation plug-in the way a host does and translates FILE (or standard\n"
           "input, also as \"-\"), one output line per input line.\n"
           "\n"
           "  --plugin PATH             plug-in to load (default: Mirelo.dll beside this program)\n"
           "  --options STR             option string handed to the plug-in (default: empty)\n"
           "  --dest-size N             destination buffer size in bytes (default: 4096)\n"
           "  --input-encoding utf8|sjis    encoding of the input (default: utf8)\n"
           "  --output-encoding utf8|cp949  encoding of the output (default: utf8)\n"
           "  --stats                   print lines, failures and timings on stderr at the end\n"
           "  --dialog                  open the options dialog after start-up and print\n"
           "                            options: \"<text>\"; translates only a FILE given too\n"
           "  --trace                   for each line, the dictionary entries that fired\n"
           "                            (file, line, FROM -> TO) on stderr; see below\n"
           "  --check-dict [FOLDER]     check a dictionary folder (default: MireloDict beside\n"
           "                            the plug-in) and print each problem as FILE:LINE:\n"
           "                            reason, then the entries of each kind in use\n"
           "  --diagnose                check where the plug-in will look for the engine and\n"
           "                            what it will find there, without loading anything;\n"
           "                            exit code 0 when it looks ready, 5 otherwise\n"
           "  --help                    this text\n"
           "\n"
           "A line the plug-in fails to translate gives an empty line and a warning on stderr.\n"
           "The plug-in may show message boxes or a folder browser while it starts.\n"
           "\n"
           "--trace reads MireloDict beside the plug-in once, at start, and runs its pre and\n"
           "name entries on each line as the plug-in does. The text that post entries work on\n"
           "never leaves the plug-in, so for post it lists the entries whose TO is in the\n"
           "result (deletions never show).\n"
           "\n"
           "Exit codes:\n"
           "  0  every line translated\n"
           "  1  bad command line\n"
           "  2  input file cannot be read\n"
           "  3  plug-in cannot be loaded\n"
           "  4  plug-in lacks one of OnPluginInit, OnPluginOption, OnPluginClose, Translate\n"
           "  5  OnPluginInit returned 0\n"
           "  6  no window could be created for the plug-in\n"
           "  7  at least one line failed to translate (all lines were still written)\n"
           "  8  --check-dict found a problem, or no such folder\n";
}

}  // namespace host

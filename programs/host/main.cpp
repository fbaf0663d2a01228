// mirelo-host: drives a translation plug-in from the command line.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "code_pages.h"
#include "command_line.h"
#include "diagnose.h"
#include "dictionary_tools.h"
#include "engine_question.h"
#include "host_args.h"
#include "messages.h"
#include "mirelo_version.h"
#include "plugin_host.h"
#include "text_codec.h"
#include "text_output.h"
#include "utf8.h"

using namespace host;
using namespace programs;

namespace {

constexpr int kGuardSize = 16;
constexpr unsigned char kGuardByte = 0xCD;

void Say(const std::string& message) {
    Err().Write("mirelo-host: " + message + "\n");
}

void Warn(unsigned long line, Msg what) {
    Say(Format(Msg::kLineWarning, {std::to_string(line), Text(what)}));
}

// One request's buffers. A request that timed out may still be completed by the plug-in
// later, so its buffers are kept alive until the plug-in has been closed.
struct Request {
    std::string source;
    std::vector<char> dest;
};

struct Stats {
    unsigned long lines = 0;
    unsigned long failures = 0;
    double totalMicros = 0;
};

std::wstring DictionaryFolder(const HostArgs& args) {
    return args.dictFolder.empty() ? mirelo::dict::FolderBeside(PluginPath(args.plugin))
                                   : args.dictFolder;
}

// Where the lines come from, and in which encoding they are.
struct Input {
    // A line and what ended it ("\r\n", "\n" or nothing); false at the end.
    std::function<bool(std::string&, std::string&)> next;
    InputEncoding encoding = InputEncoding::Utf8;
    std::FILE* file = nullptr;  // checked for a read error at the end
};

bool ReadAll(std::FILE* in, std::string& all) {
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) all.append(buffer, n);
    return !std::ferror(in);
}

// The user named no encoding: the whole input is read and decides, before the plug-in is
// started, so that nothing is written when it cannot be told.
int DecideInput(std::FILE* in, Input& input, std::shared_ptr<std::string> all) {
    if (!ReadAll(in, *all)) {
        Say(Text(Msg::kReadError));
        return kExitInput;
    }
    const InputVerdict verdict = DecideInputEncoding(*all);
    const std::string line = std::to_string(verdict.line);
    switch (verdict.kind) {
        case InputVerdict::kUtf8:
            break;
        case InputVerdict::kShiftJis:
            Say(Text(Msg::kInputIsShiftJis));
            input.encoding = InputEncoding::ShiftJis;
            break;
        case InputVerdict::kUtf16:
            Say(Text(Msg::kInputUtf16));
            return kExitInputEncoding;
        case InputVerdict::kMarkNotUtf8:
            Say(Format(Msg::kInputMarkNotUtf8, {line}));
            return kExitInputEncoding;
        case InputVerdict::kNeither:
            Say(Format(Msg::kInputNeither, {line}));
            return kExitInputEncoding;
        case InputVerdict::kMixed:
            Say(Format(Msg::kInputMixed, {line}));
            return kExitInputEncoding;
    }
    auto lines = std::make_shared<std::vector<InputLine>>(programs::SplitLines(*all));
    auto at = std::make_shared<std::size_t>(0);
    input.next = [all, lines, at](std::string& out, std::string& end) {
        if (*at >= lines->size()) return false;
        const InputLine& line = (*lines)[(*at)++];
        out.assign(line.text);
        end.assign(line.end);
        return true;
    };
    return kExitOk;
}

// Opens the input and decides how its lines are read; kExitOk or the exit code.
int OpenInput(const HostArgs& args, std::unique_ptr<std::FILE, int (*)(std::FILE*)>& file,
              Input& input) {
    std::FILE* in = stdin;
    if (args.inputGiven && args.inputFile != L"-") {
        file.reset(_wfopen(args.inputFile.c_str(), L"rb"));
        if (!file) {
            Say(Format(Msg::kCannotOpenInput, {mirelo::WideToUtf8(args.inputFile),
                                               SystemMessage(static_cast<DWORD>(_doserrno))}));
            return kExitInput;
        }
        in = file.get();
    } else if (StandardInputIsConsole()) {
        // Typed lines arrive as UTF-16 whatever the console's code page.
        input.next = [](std::string& line, std::string& end) {
            end.assign(1, '\n');
            return ReadConsoleLine(line);
        };
        return kExitOk;
    } else {
        _setmode(_fileno(stdin), _O_BINARY);
    }
    input.file = in;
    if (!args.inputEncodingGiven) return DecideInput(in, input, std::make_shared<std::string>());
    input.encoding = args.input;
    auto reader = std::make_shared<LineReader>(in);
    input.next = [reader](std::string& line, std::string& end) { return reader->Next(line, &end); };
    return kExitOk;
}

bool SaysYes(const std::string& answer) {
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "\xEC\x98\x88" ||
           answer == "\xEB\x84\xA4";  // 예, 네
}

// The engine came from a folder the user picked, which the plug-in does not keep: offer to
// keep it, asking only someone who can answer.
void OfferToRecord() {
    const std::wstring folder = LoadedEngineFolder();
    if (folder.empty()) return;
    const std::string shown = mirelo::WideToUtf8(folder);
    std::string answer;
    if (StandardInputIsConsole()) {
        Err().Write("mirelo-host: " + Format(Msg::kOfferToRecord, {shown}));
        if (ReadConsoleLine(answer) && SaysYes(answer)) {
            Err().Write(SetEngineFolder(folder).report);
            return;
        }
    }
    Say(Format(Msg::kRecordLater, {shown}));
}

// Loads and starts the plug-in; kExitOk or the exit code.
int StartPlugin(const HostArgs& args, HWND window, PluginHost& plugin,
                char (&options)[kOptionBufferSize]) {
    std::string message;
    const std::wstring path = PluginPath(args.plugin);
    if (LoadResult loaded = plugin.Load(path, message); loaded != LoadResult::kLoaded) {
        Say(message);
        return loaded == LoadResult::kMissingExport ? kExitExport : kExitLoad;
    }

    std::memcpy(options, args.options.data(), args.options.size());
    const bool willAsk = PluginWillAsk(path);
    if (willAsk) {
        ForgetPickedFolder();
        Say(Text(Msg::kEngineQuestionAhead));
    }
    if (!plugin.Init(window, options)) {
        plugin.Close();  // its worker thread runs on after a failed start and must be stopped
        if (willAsk && IsMireloFolder(PickedFolder()))
            Say(Format(Msg::kPickedMireloFolder, {mirelo::WideToUtf8(PickedFolder())}));
        Say(Text(Msg::kHostDidNotStart));
        return kExitInit;
    }
    if (willAsk && !PickedFolder().empty()) OfferToRecord();
    return kExitOk;
}

// Fills the request for the plug-in, warning of what the conversion to its code page lost.
// The first line loses its byte-order mark here, also for what is echoed when it fails.
void PrepareRequest(std::string& line, InputEncoding encoding, unsigned long number, int destSize,
                    Request& req) {
    if (encoding == InputEncoding::Utf8) {
        if (number == 1) mirelo::text::StripUtf8Bom(line);
        bool lossy = false;
        req.source = Utf8ToShiftJis(line, &lossy);
        if (!mirelo::text::IsUtf8(line))
            Warn(number, Msg::kLineNotUtf8);
        else if (lossy)
            Warn(number, Msg::kLineLossy);
    } else {
        req.source = line;
    }
    if (req.source.find('\0') != std::string::npos) Warn(number, Msg::kLineNul);
    req.dest.assign(static_cast<std::size_t>(destSize) + kGuardSize, static_cast<char>(kGuardByte));
    programs::MarkUntouched(req.dest.data(), static_cast<std::size_t>(destSize));
}

// What the plug-in wrote, up to its terminator, warning when it left none or wrote past the
// end; false when it left the destination untouched.
bool TakeAnswer(const Request& req, unsigned long number, int destSize, std::string& answer) {
    const char* d = req.dest.data();
    std::size_t n = 0;
    const programs::Answer what = programs::ReadAnswer(d, static_cast<std::size_t>(destSize), n);
    if (what == programs::Answer::kNoTerminator) Warn(number, Msg::kLineNoTerminator);
    for (int g = 0; g < kGuardSize; ++g) {
        if (static_cast<unsigned char>(d[destSize + g]) != kGuardByte) {
            Warn(number, Msg::kLineOverrun);
            break;
        }
    }
    if (what == programs::Answer::kUntouched) return false;
    answer.assign(d, n);
    return true;
}

// Every input line through the plug-in and out. A failed request's buffers go to abandoned,
// which the caller keeps until the plug-in is closed.
void TranslateLines(const HostArgs& args, Input& input, PluginHost& plugin, HostWindow& window,
                    DictionaryTrace* trace, std::vector<std::unique_ptr<Request>>& abandoned,
                    Stats& stats) {
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    std::string line, end;
    auto req = std::make_unique<Request>();
    while (input.next(line, end)) {
        ++stats.lines;
        PrepareRequest(line, input.encoding, stats.lines, args.destSize, *req);
        QueryPerformanceCounter(&t0);
        int ok = plugin.Translate(req->source.c_str(), req->dest.data(), args.destSize);
        QueryPerformanceCounter(&t1);
        stats.totalMicros += 1e6 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                             static_cast<double>(freq.QuadPart);

        // The line stays readable, in its place, rather than going blank.
        const auto keepSource = [&] {
            Out().Write((input.encoding == InputEncoding::Utf8 ? line : ShiftJisToUtf8(line)) +
                        end);
        };
        std::string out;
        if (!ok) {
            ++stats.failures;
            Warn(stats.lines, Msg::kLineFailed);
            abandoned.push_back(std::move(req));
            req = std::make_unique<Request>();
            keepSource();
        } else if (!TakeAnswer(*req, stats.lines, args.destSize, out)) {
            // The engine had no translation for it.
            if (trace) trace->Line(stats.lines, req->source, out);
            keepSource();
        } else {
            if (trace) trace->Line(stats.lines, req->source, out);
            Out().WriteCp949(out + end);
        }
        window.Pump();
    }
}

void ReportStats(const Stats& stats) {
    const double mean = stats.lines ? stats.totalMicros / stats.lines : 0.0;
    char total[32], average[32];
    std::snprintf(total, sizeof total, "%.0f", stats.totalMicros);
    std::snprintf(average, sizeof average, "%.1f", mean);
    Say(Format(Msg::kStats,
               {std::to_string(stats.lines), std::to_string(stats.failures), total, average}));
}

int Run(const HostArgs& args) {
    const bool translate = !args.dialog || args.inputGiven;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    Input input;
    if (translate)
        if (const int code = OpenInput(args, file, input); code != kExitOk) return code;

    HostWindow window;  // outlives the plug-in, which holds on to its handle
    if (!window.get()) {
        Say(Format(Msg::kNoWindow, {std::to_string(GetLastError())}));
        return kExitWindow;
    }

    // The plug-in applies the game's own entries as a server worker for that game does.
    if (!args.game.empty())
        SetEnvironmentVariableW(mirelo::dict::kGameVariable, mirelo::Utf8ToWide(args.game).c_str());
    std::vector<std::unique_ptr<Request>> abandoned;
    PluginHost plugin;
    char options[kOptionBufferSize] = {};
    if (const int code = StartPlugin(args, window.get(), plugin, options); code != kExitOk)
        return code;

    if (args.dialog) {
        plugin.Option();
        options[kOptionBufferSize - 1] = '\0';
        Out().Write(std::string("options: \"") + options + "\"\n");
    }

    std::unique_ptr<DictionaryTrace> trace;
    if (args.trace) trace = std::make_unique<DictionaryTrace>(DictionaryFolder(args), args.game);

    Stats stats;
    if (translate) {
        TranslateLines(args, input, plugin, window, trace.get(), abandoned, stats);
        if (input.file && std::ferror(input.file)) {
            plugin.Close();
            Say(Text(Msg::kReadError));
            return kExitInput;
        }
    }

    plugin.Close();
    if (args.stats) ReportStats(stats);
    return stats.failures ? kExitLineFailed : kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> list =
        RepairStrayQuotes(std::vector<std::wstring>(argv + 1, argv + argc));
    Language language = Language::kEnglish;
    const bool languageGood = ChooseLanguage(list, language);
    SetLanguage(language);
    ParsedArgs parsed = ParseArgs(list);
    ConfigureStandardStreams(parsed.args.output == OutputEncoding::Cp949 ? ByteEncoding::kCp949
                                                                         : ByteEncoding::kUtf8);
    if (!languageGood && parsed.error.empty()) parsed.error = Text(Msg::kArgLang);
    if (!parsed.error.empty()) {
        Say(Format(Msg::kUsageError, {parsed.error}));
        return kExitUsage;
    }
    const HostArgs& args = parsed.args;
    if (args.help) {
        Out().Write(HelpText());
        return kExitOk;
    }
    if (args.version) {
        Out().Write("mirelo-host " MIRELO_VERSION "\n");
        return kExitOk;
    }
    if (args.setEngineFolder) {
        const Recording r = SetEngineFolder(args.engineFolder);
        Out().Write(r.report);
        return r.recorded ? kExitOk : kExitEngineFolder;
    }
    if (args.checkDict) return CheckDictionary(DictionaryFolder(args), args.game);
    if (args.diagnose) {
        const Diagnosis d = Diagnose();
        Out().Write(d.report);
        return d.ready ? kExitOk : kExitInit;
    }
    return Run(args);
}

// mirelo-host: drives a translation plug-in from the command line.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dictionary_tools.h"
#include "diagnose.h"
#include "host_args.h"
#include "plugin_host.h"
#include "text_codec.h"

using namespace host;

namespace {

constexpr int kGuardSize = 16;
constexpr unsigned char kGuardByte = 0xCD;

void Fail(const std::string& message) {
    std::fprintf(stderr, "mirelo-host: %s\n", message.c_str());
}

void Warn(unsigned long line, const std::string& message) {
    std::fprintf(stderr, "mirelo-host: warning: line %lu: %s\n", line, message.c_str());
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

int Run(const HostArgs& args) {
    const bool translate = !args.dialog || args.inputGiven;
    std::FILE* in = stdin;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
    if (translate && args.inputGiven && args.inputFile != L"-") {
        file.reset(_wfopen(args.inputFile.c_str(), L"rb"));
        if (!file) {
            Fail("cannot open input file: " + std::string(std::strerror(errno)));
            return kExitInput;
        }
        in = file.get();
    } else {
        _setmode(_fileno(stdin), _O_BINARY);
    }

    HostWindow window;  // outlives the plug-in, which holds on to its handle
    if (!window.get()) {
        Fail("cannot create a window for the plug-in (error " + std::to_string(GetLastError()) +
             ")");
        return kExitWindow;
    }

    std::vector<std::unique_ptr<Request>> abandoned;
    PluginHost plugin;
    std::string message;
    const std::wstring path = PluginPath(args.plugin);
    if (LoadResult loaded = plugin.Load(path, message); loaded != LoadResult::kLoaded) {
        Fail(message);
        return loaded == LoadResult::kMissingExport ? kExitExport : kExitLoad;
    }

    char options[kOptionBufferSize] = {};
    std::memcpy(options, args.options.data(), args.options.size());
    if (!plugin.Init(window.get(), options)) {
        plugin.Close();  // its worker runs on after a failed start and must be stopped
        Fail("OnPluginInit returned 0: the plug-in did not start");
        return kExitInit;
    }

    if (args.dialog) {
        plugin.Option();
        options[kOptionBufferSize - 1] = '\0';
        std::printf("options: \"%s\"\n", options);
        std::fflush(stdout);
    }

    std::unique_ptr<DictionaryTrace> trace;
    if (args.trace) trace = std::make_unique<DictionaryTrace>(DictionaryFolder(args));

    Stats stats;
    if (translate) {
        LARGE_INTEGER freq, t0, t1;
        QueryPerformanceFrequency(&freq);
        LineReader reader(in);
        std::string line;
        auto req = std::make_unique<Request>();
        while (reader.Next(line)) {
            ++stats.lines;
            if (args.input == InputEncoding::Utf8) {
                if (stats.lines == 1) StripUtf8Bom(line);
                bool lossy = false;
                req->source = Utf8ToShiftJis(line, &lossy);
                if (lossy) Warn(stats.lines, "characters without a Shift-JIS form became '?'");
            } else {
                req->source = line;
            }
            if (req->source.find('\0') != std::string::npos)
                Warn(stats.lines, "a NUL byte ends the text handed to the plug-in");
            req->dest.assign(static_cast<std::size_t>(args.destSize) + kGuardSize,
                             static_cast<char>(kGuardByte));
            req->dest[0] = '\0';

            QueryPerformanceCounter(&t0);
            int ok = plugin.Translate(req->source.c_str(), req->dest.data(), args.destSize);
            QueryPerformanceCounter(&t1);
            stats.totalMicros += 1e6 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                                 static_cast<double>(freq.QuadPart);

            std::string out;
            if (!ok) {
                ++stats.failures;
                Warn(stats.lines, "Translate returned 0; writing an empty line");
                abandoned.push_back(std::move(req));
                req = std::make_unique<Request>();
            } else {
                const char* d = req->dest.data();
                const void* nul = std::memchr(d, '\0', static_cast<std::size_t>(args.destSize));
                std::size_t n = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - d)
                                    : static_cast<std::size_t>(args.destSize);
                if (!nul) Warn(stats.lines, "result not terminated within the destination");
                for (int g = 0; g < kGuardSize; ++g) {
                    if (static_cast<unsigned char>(d[args.destSize + g]) != kGuardByte) {
                        Warn(stats.lines, "the plug-in wrote past the end of the destination");
                        break;
                    }
                }
                out.assign(d, n);
                if (trace) trace->Line(stats.lines, req->source, out);
                if (args.output == OutputEncoding::Utf8) out = Cp949ToUtf8(out);
            }
            out.push_back('\n');
            std::fwrite(out.data(), 1, out.size(), stdout);
            std::fflush(stdout);
            window.Pump();
        }
        if (std::ferror(in)) {
            plugin.Close();
            Fail("error while reading the input");
            return kExitInput;
        }
    }

    plugin.Close();
    if (args.stats) {
        double mean = stats.lines ? stats.totalMicros / stats.lines : 0.0;
        std::fprintf(stderr,
                     "mirelo-host: lines: %lu, failures: %lu, total: %.0f us, mean: %.1f us\n",
                     stats.lines, stats.failures, stats.totalMicros, mean);
    }
    return stats.failures ? kExitLineFailed : kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::wstring> list(argv + 1, argv + argc);
    ParsedArgs parsed = ParseArgs(list);
    if (!parsed.error.empty()) {
        Fail(parsed.error + " (see --help)");
        return kExitUsage;
    }
    if (parsed.args.help) {
        std::fputs(HelpText(), stdout);
        return kExitOk;
    }
    if (parsed.args.checkDict) return CheckDictionary(DictionaryFolder(parsed.args));
    if (parsed.args.diagnose) {
        const Diagnosis d = Diagnose();
        std::fputs(d.report.c_str(), stdout);
        return d.ready ? kExitOk : kExitInit;
    }
    return Run(parsed.args);
}

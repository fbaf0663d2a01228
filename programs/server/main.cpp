// mirelo-server: Mirelo's translations over HTTP on the local machine.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <cwchar>
#include <filesystem>
#include <future>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "code_pages.h"
#include "dialog_watch.h"
#include "diagnose.h"
#include "engine_question.h"
#include "dictionary_folder_win.h"
#include "dictionary_watch.h"
#include "event_log.h"
#include "history.h"
#include "history_routes.h"
#include "line_answers.h"
#include "http_server.h"
#include "messages.h"
#include "module_path.h"
#include "mirelo_version.h"
#include "plugin_host.h"
#include "server_args.h"
#include "share_job.h"
#include "text_output.h"
#include "file_job.h"
#include "answer_feed.h"
#include "workbench.h"
#include "translator.h"
#include "worker_process.h"

using namespace server;
using programs::Err;
using programs::Format;
using programs::Msg;
using programs::Out;
using programs::Text;

namespace {

constexpr DWORD kDialogLookMillis = 250;

// The console handler may run at any moment, wmain's return included: it reaches the server
// only under this lock, and only while wmain still has it. (Constant-initialised and never
// destroyed with this thread model, so it also outlasts the end of the program.)
std::mutex g_serverLock;
HttpServer* g_server = nullptr;
HANDLE g_closed = nullptr;  // set once the plug-in has been closed and unloaded
std::atomic<bool> g_stopRequested{false};

void Say(const std::string& s) {
    Out().Write("mirelo-server: " + s + "\n");
}

void Complain(const std::string& s) {
    Err().Write("mirelo-server: " + s + "\n");
}

// Runs on a thread of its own. Returning ends the process (at once for a closed console), so
// it waits for the plug-in to be closed first; Windows gives a closing console 5 seconds.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (!g_stopRequested.exchange(true)) {
        Say(Text(Msg::kServerStopping));
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
        if (g_stopRequested) server.Stop();  // Ctrl+C came while it was being made
    }
    ~ServerForConsole() {
        std::lock_guard lock(g_serverLock);
        g_server = nullptr;
    }
    ServerForConsole(const ServerForConsole&) = delete;
    ServerForConsole& operator=(const ServerForConsole&) = delete;
};

std::string ListenProblem(const ServerArgs& args, const HttpServer::ListenFailure& failure) {
    const std::string port = std::to_string(args.port);
    const std::string other = std::to_string(args.port < 65535 ? args.port + 1 : args.port - 1);
    switch (failure.kind) {
        case HttpServer::ListenFailure::kBadAddress:
            return Format(Msg::kListenBadAddress, {args.host});
        case HttpServer::ListenFailure::kInUse:
            return Format(Msg::kListenInUse, {args.host, port, other});
        case HttpServer::ListenFailure::kDenied:
            return Format(Msg::kListenDenied, {args.host, port, other});
        case HttpServer::ListenFailure::kOther:
            break;
    }
    return Format(Msg::kListenFailed,
                  {args.host, port, programs::SystemMessage(static_cast<DWORD>(failure.code)),
                   std::to_string(failure.code)});
}

// While the plug-in starts, a box it shows (the engine's folder, a path warning, an error)
// holds up the start until the user answers it; the console says so, once per box.
class DialogWatch {
  public:
    explicit DialogWatch(const Translator& translator)
        : m_thread([this, &translator] {
              std::wstring shown;
              while (!m_stop && translator.GetState() == Translator::State::kStarting) {
                  const unsigned long worker = translator.StartingProcess();
                  const std::wstring title = worker ? programs::VisibleDialogTitle(worker) : L"";
                  if (!title.empty() && title != shown)
                      Say(Format(Msg::kServerWaitsForUser, {mirelo::WideToUtf8(title)}));
                  shown = title;
                  Sleep(kDialogLookMillis);
              }
          }) {}
    ~DialogWatch() {
        m_stop = true;
        m_thread.join();
    }

  private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// mirelo-server --worker IN OUT [--unattended] [--lang L] --plugin PATH [--options S]: a worker
// process, started by the server itself with the two ends of its pipes.
std::optional<int> RunAsWorker(const std::vector<std::wstring>& list) {
    if (list.size() < 3 || list[0] != L"--worker") return std::nullopt;
    const bool unattended = list.size() > 3 && list[3] == L"--unattended";
    // The server ends its workers itself: Ctrl+C in a shared console is its to handle.
    SetConsoleCtrlHandler(nullptr, TRUE);
    auto handle = [](const std::wstring& s) {
        return reinterpret_cast<HANDLE>(
            static_cast<UINT_PTR>(std::wcstoul(s.c_str(), nullptr, 10)));
    };
    const ParsedServerArgs parsed =
        ParseServerArgs(std::vector<std::wstring>(list.begin() + (unattended ? 4 : 3), list.end()));
    if (!parsed.error.empty()) return kExitUsage;
    // The server passes on its options whenever they are not empty: none given means none.
    return RunWorkerProcess(handle(list[1]), handle(list[2]), parsed.args.plugin,
                            parsed.args.optionsGiven ? parsed.args.options : std::string(),
                            unattended, parsed.args.game);
}

unsigned DefaultWorkers() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return std::clamp<unsigned>(system.dwNumberOfProcessors, 1, kMaxWorkers);
}

// Says why the workers could not start; the exit code for it.
int StartFailure(StartKind kind, const std::string& message) {
    Complain(message);
    const programs::Diagnosis d = programs::Diagnose();
    if (!d.ready) Err().Write(d.report);
    return kind == StartKind::kInitFailed ? kExitInit : kExitLoad;
}

std::wstring LogFolder(const ServerArgs& args) {
    return args.logFolder.empty() ? mirelo::ModuleFolder(nullptr) + L"\\logs" : args.logFolder;
}

std::wstring DataFolder(const ServerArgs& args) {
    return args.dataFolder.empty() ? mirelo::ModuleFolder(nullptr) : args.dataFolder;
}

std::wstring DictionaryFolder(const ServerArgs& args) {
    return mirelo::dict::FolderBeside(programs::PluginPath(args.plugin));
}

// The history listens to the feed; without it (--no-history, or a database that cannot be
// opened) lines are answered all the same.
std::unique_ptr<History> KeepHistory(const ServerArgs& args, EventLog& log, AnswerFeed& feed) {
    if (args.noHistory) return nullptr;
    const std::filesystem::path folder(DataFolder(args));
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string why;
    std::unique_ptr<History> history =
        History::Open(folder / kHistoryFileName,
                      {args.historyRows, args.historyBytes, DictionaryFolder(args),
                       [&log](const std::string& text) { log.Add("history", text); }},
                      &why);
    if (!history) {
        const std::string problem =
            Format(Msg::kHistoryUnavailable,
                   {mirelo::WideToUtf8((folder / kHistoryFileName).wstring()), why});
        Complain(problem);
        log.Add("history", problem, false);
        return nullptr;
    }
    feed.Listen([h = history.get()](const std::vector<AnsweredLine>& lines) { h->Add(lines); });
    return history;
}

Translator::Config PoolConfig(const ServerArgs& args, EventLog& log, const LineAnswers& lines) {
    return {mirelo::ModulePath(nullptr),
            programs::PluginPath(args.plugin),
            args.options,
            args.queue,
            args.workers ? args.workers : DefaultWorkers(),
            [&log](const PoolEvent& event) { log.Add(event); },
            args.game,
            &lines};
}

// The `line` entries of the folder the workers' plug-in reads, read now.
std::unique_ptr<LineAnswers> ReadLineAnswers(const ServerArgs& args) {
    auto lines = std::make_unique<LineAnswers>(
        mirelo::dict::FolderBeside(programs::PluginPath(args.plugin)));
    lines->ReloadAll();
    return lines;
}

// Reloads of the dictionary the workers' plug-in reads go into the log and reset the pool's
// memory of lines.
DictionaryWatch WatchDictionary(const std::wstring& plugin, Translator& translator, EventLog& log,
                                LineAnswers& lines) {
    return DictionaryWatch(
        mirelo::dict::FolderBeside(plugin),
        [&log](const std::string& kind, const std::string& text) { log.Add(kind, text); },
        [&translator, &lines] {
            lines.ReloadAll();
            translator.DictionaryChanged();
        });
}

// Before the first worker's plug-in may ask for the engine's folder: which folder it means.
void ExplainEngineQuestion(const ServerArgs& args) {
    if (programs::PluginWillAsk(programs::PluginPath(args.plugin)))
        Say(Text(Msg::kEngineQuestionAhead));
}

int RunFileJob(const ServerArgs& args, EventLog& log) {
    AnswerFeed feed;
    const std::unique_ptr<History> history = KeepHistory(args, log, feed);
    const std::unique_ptr<LineAnswers> lines = ReadLineAnswers(args);
    Translator translator(PoolConfig(args, log, *lines));
    std::promise<std::tuple<Translator::State, StartKind, std::string>> started;
    auto result = started.get_future();
    std::atomic<bool> told{false};
    std::atomic<StartKind> lastKind{StartKind::kInitFailed};
    ExplainEngineQuestion(args);
    translator.Start([&](Translator::State state, StartKind kind, const std::string& message) {
        if (kind != StartKind::kNone) lastKind = kind;
        // A file job does not wait for the user to put the engine in place.
        if (!told.exchange(true)) started.set_value({state, kind, message});
    });
    std::tuple<Translator::State, StartKind, std::string> got;
    {
        const DialogWatch watch(translator);
        got = result.get();
    }
    const auto& [state, kind, message] = got;
    if (state != Translator::State::kReady) return StartFailure(kind, message);
    if (!message.empty()) Say(Format(Msg::kRecordLater, {message}));
    const DictionaryWatch dictionary =
        WatchDictionary(programs::PluginPath(args.plugin), translator, log, *lines);
    FileJob job;
    job.in = args.translateFile;
    job.out = args.outFile;
    job.lineTimeout = std::chrono::seconds(args.timeoutSeconds);
    job.workers = args.workers ? args.workers : DefaultWorkers();
    job.game = args.game;
    job.stop = &g_stopRequested;
    job.feed = &feed;
    job.notReady = [&](const std::string& problem) {
        return StartFailure(lastKind,
                            Format(Msg::kFileNotReady,
                                   {std::to_string(kFileReadyWait.count()),
                                    problem.empty() ? Text(Msg::kPluginDidNotStart) : problem}));
    };
    return TranslateFile(translator, job);
}

// Serves HTTP until Ctrl+C, or until the workers cannot start at all.
int RunServer(const ServerArgs& args, EventLog& log) {
    AnswerFeed feed;
    const std::unique_ptr<History> history = KeepHistory(args, log, feed);
    const std::unique_ptr<LineAnswers> lines = ReadLineAnswers(args);
    Translator translator(PoolConfig(args, log, *lines));
    const DictionaryWatch dictionary =
        WatchDictionary(programs::PluginPath(args.plugin), translator, log, *lines);
    Workbench::Config bench;
    bench.host = {args.port, !programs::IsLoopback(args.host), args.cors};
    bench.dictionaryFolder = std::filesystem::path(dictionary.Folder());
    bench.translator = &translator;
    bench.lines = lines.get();
    bench.korean = programs::CurrentLanguage() == programs::Language::kKorean;
    if (history)
        bench.history = [h = history.get(), l = lines.get(), &translator](
                            std::string_view method, std::string_view path, std::string_view query,
                            std::string_view body,
                            std::string_view type) -> std::optional<WebAnswer> {
            std::optional<JsonAnswer> a = HistoryRoute(*h, method, path, query, body, type);
            if (!a) return std::nullopt;
            // Imported corrections are answered at once, as one saved in the page is.
            if (path == "/api/import" && a->status == 200) {
                l->ReloadAll();
                translator.DictionaryChanged();
            }
            WebAnswer w;
            w.status = a->status;
            if (path == "/api/export") w.type = "text/plain; charset=utf-8";
            w.body = std::move(a->body);
            return w;
        };
    Workbench workbench(std::move(bench), feed);
    if (!workbench.TokenProblem().empty()) {
        const std::string problem = Format(Msg::kServerNoToken, {workbench.TokenProblem()});
        Complain(problem);
        log.Add("workbench", problem, false);
    }
    HttpConfig config{args.cors, std::chrono::seconds(args.timeoutSeconds),
                      std::chrono::seconds(20), &log, &dictionary};
    config.feed = &feed;
    config.workbench = &workbench;
    HttpServer http(translator, std::move(config));
    HttpServer::ListenFailure failure;
    if (!http.Listen(args.host, args.port, failure)) {
        const std::string problem = ListenProblem(args, failure);
        Complain(problem);
        log.Add("port", problem, false);
        return kExitListen;
    }
    if (args.listenGiven && !programs::IsLoopback(args.host))
        Complain(Format(Msg::kServerOpenWarning, {args.host}));
    const std::string url =
        "http://" + (args.host.find(':') != std::string::npos ? "[" + args.host + "]" : args.host) +
        ":" + std::to_string(args.port);
    Out().Write(Format(Msg::kServerStarting, {MIRELO_VERSION, url}));
    Say(Format(Msg::kServerWorkbench, {url + "/"}));

    const ServerForConsole console(http);
    int exitCode = kExitOk;
    {
        ExplainEngineQuestion(args);
        const DialogWatch watch(translator);
        translator.Start([&](Translator::State state, StartKind kind, const std::string& message) {
            if (state == Translator::State::kReady) {
                Out().Write(Text(Msg::kServerReady) + std::string("\n"));
                // The engine came from a folder picked at the question: say how to keep it.
                if (!message.empty()) Say(Format(Msg::kRecordLater, {message}));
                return;
            }
            // Tried again now and then; requests are answered 503 with the reason meanwhile.
            if (state == Translator::State::kRetrying) return Complain(message);
            exitCode = StartFailure(kind, message);
            http.Stop();
        });
        http.Run();
    }
    workbench.Stop();
    translator.Stop();
    Say(Text(Msg::kServerClosed));
    return exitCode;
}

// Help, version and --diagnose; nullopt when the command line asks for more.
std::optional<int> RunInformation(const ServerArgs& args) {
    if (args.help) {
        Out().Write(ServerHelpText());
        return kExitOk;
    }
    if (args.version) {
        Out().Write("mirelo-server " MIRELO_VERSION "\n");
        return kExitOk;
    }
    if (args.diagnose) {
        const programs::Diagnosis d = programs::Diagnose();
        Out().Write(d.report);
        return d.ready ? kExitOk : kExitInit;
    }
    return std::nullopt;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> list(argv + 1, argv + argc);
    programs::Language language = programs::Language::kEnglish;
    const bool languageGood = programs::ChooseLanguage(list, language);
    programs::SetLanguage(language);
    if (const std::optional<int> code = RunAsWorker(list)) return *code;
    programs::ConfigureStandardStreams(programs::ByteEncoding::kUtf8);
    ParsedServerArgs parsed = ParseServerArgs(list);
    if (!languageGood && parsed.error.empty()) parsed.error = Text(Msg::kArgLang);
    if (!parsed.error.empty()) {
        Complain(Format(Msg::kUsageError, {parsed.error}));
        return kExitUsage;
    }
    const ServerArgs& args = parsed.args;
    if (const std::optional<int> code = RunInformation(args)) return *code;
    if (args.share)
        return RunShare({args.shareImport, args.shareGame, args.shareFile, args.shareFormat},
                        DictionaryFolder(args), DataFolder(args));

    g_closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    int code = kExitOk;
    {
        EventLog log(LogFolder(args));
        code = args.translateFile.empty() ? RunServer(args, log) : RunFileJob(args, log);
    }
    SetEvent(g_closed);
    return code;
}

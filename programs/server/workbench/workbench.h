// The workbench: the page served at "/" and the /api routes it calls. Routes are chosen on the
// I/O thread; slow work goes to the job queues below. The live view (lines answered, pages
// waiting for new ones) is live_view.*, entries tried before they are saved pattern_trial.*.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "answer_feed.h"
#include "job_queue.h"
#include "line_answers.h"
#include "live_view.h"
#include "workbench_api.h"
#include "workbench_security.h"

namespace server {

class Translator;

// A history route's answer, or nullopt when the route is not one of them.
using HistoryRoutes = std::function<std::optional<WebAnswer>(
    std::string_view method, std::string_view path, std::string_view query, std::string_view body,
    std::string_view contentType)>;

class Workbench {
  public:
    // Requests waiting for each of the workbench's threads; past it they are answered 503.
    static constexpr std::size_t kQueuedJobs = 32;

    struct Config {
        HostRule host;
        std::filesystem::path dictionaryFolder;  // the MireloDict the workers' plug-in reads
        Translator* translator = nullptr;  // told of corrections, for its answers to start afresh
        LineAnswers* lines = nullptr;      // answers a correction the moment it is saved
        bool korean = true;
        HistoryRoutes history;  // empty until the history is wired in
    };

    // Its live view listens to `feed`, which must be before serving starts.
    Workbench(Config config, AnswerFeed& feed);
    ~Workbench();
    Workbench(const Workbench&) = delete;
    Workbench& operator=(const Workbench&) = delete;

    // The Host and site checks every request goes through (workbench_security.h).
    std::optional<Refusal> CheckCaller(const WebRequest& request) const;
    // "/", the page's files and /api/...
    static bool Owns(std::string_view path);
    // The answer, or nullopt when it comes later through `later`, on a thread of the
    // workbench's own (never before Handle has returned).
    std::optional<WebAnswer> Handle(const WebRequest& request, Later later);
    // Drops every answer not yet given, and waits for a correction being checked: before the
    // HTTP server that holds the connections goes. Any thread but the workbench's own.
    void Stop();

    const std::string& Token() const { return m_token; }
    // Why no token could be made (the system's words), or "".
    const std::string& TokenProblem() const { return m_tokenProblem; }

  private:
    // Work that may take a while: done on a thread that owns it, not the connections'. nullopt
    // from `work`: the answer comes later still, or the server is stopping.
    using Work = std::function<std::optional<WebAnswer>()>;

    std::optional<WebAnswer> Correct(const WebRequest& request, Later& later);
    WebAnswer Dictionary(std::string_view query) const;
    WebAnswer AddName(const WebRequest& request);
    WebAnswer EngineFolder(const WebRequest& request);
    WebAnswer Status() const;
    std::optional<WebAnswer> Queue(JobQueue& queue, Work work, Later& later);
    std::optional<WebAnswer> Trial(const WebRequest& request, Later& later);
    std::optional<WebAnswer> ApplyCorrection(const std::string& game, const std::string& source,
                                             const std::string& translation);

    Config m_config;
    std::string m_tokenProblem;  // before m_token, which is made with it
    std::string m_token;
    std::string m_page;  // index.html with this run's token and language

    LiveView m_live;

    std::mutex m_mutex;
    bool m_stopping = false;
    std::set<std::string> m_trying;  // clients whose pattern is being tried
    // Files and the registry written, the folder read, the diagnosis made: the workbench's
    // own work. The history's reads, exports and imports, on its read connection. Patterns
    // tried, which may take their whole step budget.
    JobQueue m_work{kQueuedJobs};
    JobQueue m_history{kQueuedJobs};
    JobQueue m_trials{kQueuedJobs};
};

}  // namespace server

// The workbench: the page served at "/" and the /api routes it calls. Lines answered by the
// server arrive through the answer feed and are kept, a bounded number per game, for the live
// view; a page waiting for new lines is answered as soon as one of its game comes.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "answer_feed.h"
#include "job_queue.h"
#include "line_answers.h"
#include "workbench_security.h"

namespace server {

class Translator;

struct WebRequest {
    std::string_view method;  // "GET", "POST", ...
    std::string_view path;
    std::string_view query;
    std::string_view host;
    bool hostGiven = false;
    std::string_view origin;
    bool originGiven = false;
    std::string_view fetchSite;  // Sec-Fetch-Site
    std::string_view token;      // X-Mirelo-Token
    std::string_view contentType;
    std::string_view body;
    unsigned version = 11;
    std::string_view peer;  // the client's address, for what each client may do at once
};

struct WebAnswer {
    int status = 200;
    std::string type = "application/json; charset=utf-8";
    std::string body;
    bool page = false;  // the page's own files: sent with their security headers
};

// A history route's answer, or nullopt when the route is not one of them.
using HistoryRoutes = std::function<std::optional<WebAnswer>(
    std::string_view method, std::string_view path, std::string_view query, std::string_view body,
    std::string_view contentType)>;

class Workbench {
  public:
    // Recent lines kept per game, and games kept.
    static constexpr std::size_t kLinesPerGame = 500;
    static constexpr std::size_t kGames = 64;
    // All the lines kept, in bytes; a text longer than kLineBytes is kept cut (and marked so).
    static constexpr std::size_t kBytes = 16 << 20;
    static constexpr std::size_t kLineBytes = 4096;
    // A page asking for new lines is answered empty after this, and asks again.
    static constexpr auto kWait = std::chrono::seconds(25);
    // Pages waiting at once; past it the one waiting longest is answered at once. A page
    // closed while it waits is not noticed until then, and each holds a connection.
    static constexpr std::size_t kWaiters = 32;
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

    // Listens to `feed`, which must be before serving starts.
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
    using Later = std::function<void(WebAnswer)>;
    std::optional<WebAnswer> Handle(const WebRequest& request, Later later);
    // Drops every answer not yet given, and waits for a correction being checked: before the
    // HTTP server that holds the connections goes. Any thread but the workbench's own.
    void Stop();

    const std::string& Token() const { return m_token; }
    // Why no token could be made (the system's words), or "".
    const std::string& TokenProblem() const { return m_tokenProblem; }

  private:
    struct Line {
        uint64_t id;
        AnsweredLine line;
        bool cut = false;
    };
    struct Waiter {
        std::string game;
        uint64_t after;
        std::chrono::steady_clock::time_point until;
        Later later;
    };
    // Work that may take a while: done on a thread that owns it, not the connections'. nullopt
    // from `work`: the answer comes later still, or the server is stopping.
    using Work = std::function<std::optional<WebAnswer>()>;

    void Take(const std::vector<AnsweredLine>& lines);
    std::optional<WebAnswer> Live(std::string_view query, Later& later);
    std::string LiveBody(const std::string& game, uint64_t after, std::size_t limit) const;
    std::optional<WebAnswer> Correct(const WebRequest& request, Later& later);
    WebAnswer Dictionary(std::string_view query) const;
    WebAnswer AddName(const WebRequest& request);
    WebAnswer EngineFolder(const WebRequest& request);
    WebAnswer Status() const;
    void Run();
    std::optional<WebAnswer> Queue(JobQueue& queue, Work work, Later& later);
    std::optional<WebAnswer> Trial(const WebRequest& request, Later& later);
    std::optional<WebAnswer> ApplyCorrection(const std::string& game, const std::string& source,
                                             const std::string& translation);

    Config m_config;
    std::string m_tokenProblem;  // before m_token, which is made with it
    std::string m_token;
    std::string m_page;  // index.html with this run's token and language

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    uint64_t m_lastId = 0;
    std::size_t m_bytes = 0;
    std::map<std::string, std::deque<Line>> m_lines;  // by game
    std::vector<std::string> m_recentGames;           // most recent first
    std::vector<Waiter> m_waiters;
    std::set<std::string> m_trying;  // clients whose pattern is being tried
    std::thread m_thread;            // answers pages that waited long enough
    // Files and the registry written, the folder read, the diagnosis made: the workbench's
    // own work. The history's reads, exports and imports, on its read connection. Patterns
    // tried, which may take their whole step budget.
    JobQueue m_work{kQueuedJobs};
    JobQueue m_history{kQueuedJobs};
    JobQueue m_trials{kQueuedJobs};
};

}  // namespace server

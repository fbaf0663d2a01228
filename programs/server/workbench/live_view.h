// The workbench's live view: the lines the server answers, taken from the answer feed and kept
// for the page (the last kLinesPerGame of the kGames games translated most recently), and the
// pages waiting for new ones (GET /api/live?after=...), each answered as soon as a line of its
// game comes or empty after kWait. Threads: the feed calls in on whichever thread answered
// the lines; pages ask on the I/O thread; a thread of its own answers the pages that waited
// long enough. One lock over all of it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "answer_feed.h"
#include "workbench_api.h"

namespace server {

class LiveView {
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

    // Listens to `feed`, which must be before serving starts.
    explicit LiveView(AnswerFeed& feed);
    ~LiveView();
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    // GET /api/live: the answer, or nullopt when it comes later through `later`.
    std::optional<WebAnswer> Ask(std::string_view query, Later& later);
    // A correction saved: the kept lines of `game` with that source show it.
    void Corrected(const std::string& game, const std::string& source,
                   const std::string& translation);
    // Drops every page waiting, unanswered, and ends the view's thread.
    void Stop();

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

    void Take(const std::vector<AnsweredLine>& lines);
    std::string Body(const std::string& game, uint64_t after, std::size_t limit) const;
    void Run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    uint64_t m_lastId = 0;
    std::size_t m_bytes = 0;
    std::map<std::string, std::deque<Line>> m_lines;  // by game
    std::vector<std::string> m_recentGames;           // most recent first
    std::vector<Waiter> m_waiters;
    std::thread m_thread;  // answers pages that waited long enough
};

}  // namespace server

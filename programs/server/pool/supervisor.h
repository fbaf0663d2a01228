// Each worker's life: its start (one at a time; only the first may ask the user), the line in
// its hand and the server's own deadline on it, its death or hang, and the pause before a
// failed start is tried again. Runs on the pool's thread only (an Asio loop): workers, pipes
// and timers are touched by no other thread, and nothing here waits. What other threads read
// (the state, the problem, the workers as /status shows them) it copies into the PoolBoard
// under the pool's lock, which guards the Scheduler too and is held only for moments.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "launcher.h"
#include "restart_limit.h"
#include "scheduler.h"

namespace server {

// What the server's threads may read of the workers. Guarded by PoolShared::mutex.
struct PoolBoard {
    Translator::State state = Translator::State::kStarting;
    std::string problem;  // why no worker can take a line, or why the last start failed
    bool serving = true;  // a worker can take a line, or could a moment ago
    bool stopping = false;
    std::size_t live = 0;        // workers whose plug-in is ready
    unsigned long starting = 0;  // the process being started now, or 0
    unsigned pausedSeconds = 0;  // left of a pause after too many workers died, or 0
    std::vector<WorkerStatus> workers;
};

struct PoolShared {
    PoolShared(std::size_t capacity, const LineAnswers* lines) : scheduler(capacity, lines) {}
    mutable std::mutex mutex;
    Scheduler scheduler;
    PoolBoard board;
};

class Supervisor {
  public:
    using OnEvent = std::function<void(const PoolEvent&)>;
    Supervisor(boost::asio::io_context& io, PoolShared& shared, Launcher& launcher,
               unsigned workers, OnEvent onEvent, const std::string& game = {});
    ~Supervisor();
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    // All on the pool's thread.
    void Start(Translator::Started started);
    void Wake();  // lines may be waiting and workers idle
    // Closes every worker's input, which lets it finish its line, close its plug-in and end;
    // nothing runs from here on. The processes, to wait for before EndAll.
    std::vector<HANDLE> Close();
    // Once the pool's thread has ended.
    void EndAll();

  private:
    struct Worker;
    void StartNext();
    void Dispatch();
    std::vector<Seat> Seats() const;
    void Launch(Worker& w);
    void Read(Worker& w);
    void OnFrame(Worker& w);
    void OnStarted(Worker& w);
    void Send(Worker& w, std::shared_ptr<Task> task);
    void PastDeadline(Worker& w);
    void Lost(Worker& w);
    void AwaitExit(Worker& w, std::shared_ptr<Task> task, unsigned polls);
    void Died(Worker& w, std::shared_ptr<Task> task, std::optional<DWORD> code);
    // Counts a worker its own line ended, and pauses starts past the restart intensity.
    void CountDeath(const Worker& w);
    void Replace(Worker& w, const std::string& why);
    void StartFailed(Worker& w, const std::string& why, StartKind kind, bool retry);
    void End(Worker& w);
    void Sweep();
    void Event(PoolEvent::Kind kind, const Worker& w, std::string line, std::string detail = {},
               unsigned seconds = 0);
    // Runs `work` on the pool's thread unless stopping, then publishes the board and runs what
    // waits to run outside the lock: the start callback, events and hand-backs.
    template <class Work>
    void Run(Work work);
    void Publish();

    boost::asio::io_context& m_io;
    PoolShared& m_shared;
    Launcher& m_launcher;
    const OnEvent m_onEvent;
    std::vector<std::unique_ptr<Worker>> m_workers;
    boost::asio::steady_timer m_sweep;
    boost::asio::steady_timer m_emptyCheck;
    boost::asio::steady_timer m_pause;
    RestartLimit m_restarts;
    Translator::Started m_started;
    std::atomic<bool> m_closed{false};
    Translator::State m_state = Translator::State::kStarting;
    std::string m_problem;  // why the last start failed, until a worker starts
    std::optional<Translator::Clock::time_point> m_emptySince;  // no live worker since
    std::optional<Translator::Clock::time_point> m_lastHang;
    unsigned m_launches = 0;
    bool m_toldSlow = false;
    bool m_screenPosted = false;
    std::optional<std::tuple<Translator::State, StartKind, std::string>> m_startedNote;
    std::vector<PoolEvent> m_events;
};

}  // namespace server

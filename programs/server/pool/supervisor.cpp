#include "supervisor.h"

#include <algorithm>
#include <cstdio>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/windows/stream_handle.hpp>
#include <boost/asio/write.hpp>

#include "messages.h"
#include "text_codec.h"

namespace asio = boost::asio;

namespace server {
namespace {

using Clock = Translator::Clock;
using Kind = PoolEvent::Kind;

// Requests whose time is up are answered even while no worker is free to notice.
constexpr auto kSweepInterval = std::chrono::milliseconds(250);
// The plug-in's own limit for one line. A Translate that returned 0 after that, less the
// coarse timers' slack, gave up waiting for its engine, which is then still busy with the line.
constexpr auto kPluginGivesUp = std::chrono::seconds(3);
constexpr std::uint32_t kStuckMicros = 2500000;
// A worker started unattended asks the user nothing, so a start that takes longer than this
// has an engine stuck in its start-up; it is ended and tried again like a failed start. The
// first start may be waiting on the user: after this long the console says so, once.
constexpr auto kStartLimit = std::chrono::seconds(20);
// Past the plug-in's own 3 s on a line: a worker still holding one was stopped from outside
// (a debugger, a frozen process) and is ended and replaced.
constexpr auto kLineDeadline = std::chrono::seconds(6);
// A worker whose pipe broke has this long to end and say why before it is ended.
constexpr auto kExitPoll = std::chrono::milliseconds(20);
constexpr unsigned kExitPolls = 50;
// After a hang, lines never answered may not hold every worker for this long.
constexpr auto kHangStorm = std::chrono::seconds(10);
// Workers being replaced are not a reason to turn requests away, unless none has been able
// to take a line for this long.
constexpr auto kEmptyGrace = std::chrono::seconds(5);

StartKind KindOf(StartResult result) {
    return result == StartResult::kInitFailed ? StartKind::kInitFailed : StartKind::kLoadFailed;
}

}  // namespace

struct Supervisor::Worker {
    enum class State { kDown, kStarting, kIdle, kBusy, kEnding };
    Worker(asio::io_context& io, unsigned index)
        : index(index), toWorker(io), fromWorker(io), timer(io) {}
    const unsigned index;
    State state = State::kDown;
    asio::windows::stream_handle toWorker;
    asio::windows::stream_handle fromWorker;
    asio::steady_timer timer;  // start limit, back-off, waiting for the process to end
    Clock::time_point sentAt;  // of the line in hand
    bool retrying = false;
    std::chrono::seconds backoff{0};
    unsigned failures = 0;  // starts failed since it was last ready
    mirelo::UniqueHandle process;
    unsigned long pid = 0;
    // Bumped whenever the worker's pipes go: completions of an earlier one are ignored.
    unsigned generation = 0;
    unsigned char header[kFrameHeader] = {};
    std::string payload;
    std::string sending;
    std::shared_ptr<Task> task;  // the line in hand
    uint64_t processLines = 0;   // answered by this process: 0 means fresh
    uint64_t lines = 0;
    unsigned restarts = 0;
    std::string lastFault;
    // Whose own dictionary entries its plug-in applies (folded; empty: the common ones alone).
    // Set before a launch; a worker of another game is ended and started again for it.
    std::string game;
    Translator::Clock::time_point readyAt;  // when its process became ready
};

Supervisor::Supervisor(asio::io_context& io, PoolShared& shared, Launcher& launcher,
                       unsigned workers, OnEvent onEvent, const std::string& game)
    : m_io(io),
      m_shared(shared),
      m_launcher(launcher),
      m_onEvent(std::move(onEvent)),
      m_sweep(io),
      m_emptyCheck(io),
      m_pause(io) {
    for (unsigned i = 0; i < std::max(1u, workers); ++i) {
        m_workers.push_back(std::make_unique<Worker>(io, i));
        m_workers.back()->game = game;
    }
}

Supervisor::~Supervisor() = default;

void Supervisor::Start(Translator::Started started) {
    m_started = std::move(started);
    Run([this] { StartNext(); });
    Sweep();
}

template <class Work>
void Supervisor::Run(Work work) {
    if (m_closed) return;
    work();
    Publish();
}

void Supervisor::Publish() {
    static constexpr const char* kStates[] = {"down", "starting", "idle", "busy", "restarting"};
    const auto now = Clock::now();
    std::size_t live = 0;
    unsigned long starting = 0;
    std::vector<WorkerStatus> workers;
    for (const auto& w : m_workers) {
        live += w->state == Worker::State::kIdle || w->state == Worker::State::kBusy;
        if (w->state == Worker::State::kStarting) starting = w->pid;
        workers.push_back({w->pid, w->retrying ? "restarting" : kStates[static_cast<int>(w->state)],
                           w->lines, w->restarts, w->lastFault, w->game});
    }
    bool serving = true;
    std::string problem = m_problem;
    const unsigned paused = m_restarts.SecondsLeft(now);
    if (m_restarts.Paused())
        problem =
            programs::Format(programs::Msg::kWorkersPaused,
                             {std::to_string(paused), std::to_string(RestartLimit::kDeathLimit + 1),
                              std::to_string(RestartLimit::kDeathWindow.count())});
    if (live > 0 || m_state != Translator::State::kReady) {
        m_emptySince.reset();
    } else {
        if (!m_emptySince) {
            m_emptySince = now;
            m_emptyCheck.expires_after(kEmptyGrace);
            m_emptyCheck.async_wait([this](boost::system::error_code ec) {
                if (!ec) Run([] {});
            });
        }
        const auto empty = now - *m_emptySince;
        // A start that failed while a worker was being replaced may be put right by the next
        // one: requests wait out the grace as for any replacement, then hear its reason.
        serving = !m_restarts.Paused() && empty < kEmptyGrace;
        if (!serving && problem.empty())
            problem = programs::Format(
                programs::Msg::kWorkersUnavailable,
                {std::to_string(std::chrono::duration_cast<std::chrono::seconds>(empty).count())});
    }
    std::vector<Translator::HandBack> done;
    {
        std::lock_guard lock(m_shared.mutex);
        PoolBoard& b = m_shared.board;
        if (b.stopping) return;
        b.state = m_state;
        b.problem = std::move(problem);
        b.serving = serving;
        b.live = live;
        b.starting = starting;
        b.pausedSeconds = paused;
        b.workers = std::move(workers);
        done = m_shared.scheduler.TakeDone();
    }
    if (auto note = std::exchange(m_startedNote, std::nullopt))
        m_started(std::get<0>(*note), std::get<1>(*note), std::get<2>(*note));
    if (m_onEvent)
        for (const PoolEvent& e : m_events) m_onEvent(e);
    m_events.clear();
    for (auto& handBack : done) handBack();
}

void Supervisor::Event(Kind kind, const Worker& w, std::string line, std::string detail,
                       unsigned seconds) {
    m_events.push_back({kind, w.index, w.pid, std::move(line), std::move(detail), seconds});
}

// Workers start one at a time, each once the one before has returned from OnPluginInit:
// engines of this kind have crashed when started in several processes at once, and only
// the first may ask the user for the engine's folder.
void Supervisor::StartNext() {
    if (m_state == Translator::State::kFailed || m_restarts.Paused()) return;
    for (auto& w : m_workers)
        if (w->state == Worker::State::kStarting) return;
    for (auto& w : m_workers) {
        if (w->state != Worker::State::kDown || w->retrying) continue;
        Launch(*w);
        return;
    }
}

void Supervisor::Launch(Worker& w) {
    ++w.generation;
    const bool first = m_launches++ == 0;
    std::string why;
    std::optional<WorkerProcess> launched = m_launcher.Launch(!first, w.game, &why);
    if (!launched) return StartFailed(w, why, StartKind::kSystem, false);
    w.process = std::move(launched->process);
    w.pid = launched->pid;
    w.toWorker.assign(launched->toWorker.release());
    w.fromWorker.assign(launched->fromWorker.release());
    w.state = Worker::State::kStarting;
    w.processLines = 0;
    Read(w);
    const unsigned generation = w.generation;
    w.timer.expires_after(kStartLimit);
    w.timer.async_wait([this, &w, generation, first](boost::system::error_code ec) {
        if (ec) return;
        Run([&] {
            if (w.generation != generation || w.state != Worker::State::kStarting) return;
            // Only the first start may wait on the user, for as long as the user takes.
            if (!first)
                return StartFailed(
                    w, "did not start within " + std::to_string(kStartLimit.count()) + " s",
                    StartKind::kInitFailed, true);
            if (m_toldSlow) return;
            m_toldSlow = true;
            Event(Kind::kStartSlow, w, {},
                  programs::Format(programs::Msg::kEngineStartSlow,
                                   {std::to_string(kStartLimit.count())}),
                  static_cast<unsigned>(kStartLimit.count()));
        });
    });
}

// Reads one frame from the worker, then OnFrame; anything else means the worker is lost.
void Supervisor::Read(Worker& w) {
    const unsigned generation = w.generation;
    asio::async_read(
        w.fromWorker, asio::buffer(w.header),
        [this, &w, generation](boost::system::error_code ec, std::size_t) {
            Run([&] {
                if (w.generation != generation) return;
                const std::optional<std::uint32_t> n = ec ? std::nullopt : FrameLength(w.header);
                if (!n) return Lost(w);
                w.payload.resize(*n);
                asio::async_read(w.fromWorker, asio::buffer(w.payload),
                                 [this, &w, generation](boost::system::error_code e, std::size_t) {
                                     Run([&] {
                                         if (w.generation != generation) return;
                                         if (e) return Lost(w);
                                         OnFrame(w);
                                     });
                                 });
            });
        });
}

void Supervisor::OnFrame(Worker& w) {
    if (w.state == Worker::State::kStarting) return OnStarted(w);
    const std::optional<LineReply> reply = DecodeReply(w.payload);
    if (w.state != Worker::State::kBusy || !reply) return Lost(w);
    ++w.lines;
    ++w.processLines;
    std::shared_ptr<Task> task = std::move(w.task);
    // The engine is still on a line the plug-in stopped waiting for and may never come back: a
    // fresh process costs less than a stuck one. (A plug-in that refuses a line at once
    // leaves no engine behind it busy.)
    const bool hung = reply->reply == Reply::kGaveUp && reply->micros >= kStuckMicros;
    {
        std::lock_guard lock(m_shared.mutex);
        m_shared.scheduler.Answered(*task, *reply, hung, Clock::now());
    }
    if (hung) {
        m_lastHang = Clock::now();
        Event(Kind::kHang, w, programs::ShiftJisToUtf8(task->sjis));
        return Replace(w,
                       "gave up on a line after " + std::to_string(kPluginGivesUp.count()) + " s");
    }
    w.state = Worker::State::kIdle;
    Read(w);
    Dispatch();
}

void Supervisor::OnStarted(Worker& w) {
    const std::optional<Started> started = DecodeStarted(w.payload);
    if (!started) return Lost(w);
    if (started->result != StartResult::kReady)
        return StartFailed(w, started->message, KindOf(started->result),
                           started->result == StartResult::kInitFailed);
    w.state = Worker::State::kIdle;
    w.readyAt = Clock::now();
    w.timer.cancel();
    w.backoff = std::chrono::seconds(0);
    if (std::exchange(w.failures, 0) > 0) Event(Kind::kRecovered, w, {});
    m_problem.clear();
    if (m_state != Translator::State::kReady) {
        m_state = Translator::State::kReady;
        // A ready worker's word is the engine's folder when the user picked it at the
        // question, so that the program can offer to record it.
        m_startedNote.emplace(m_state, StartKind::kNone, started->message);
    }
    Read(w);
    StartNext();
    Dispatch();
}

void Supervisor::Wake() {
    Run([this] { Dispatch(); });
}

// Gives each idle worker a line of its game; which worker goes over to which game the
// scheduler's game turns decide (game_turns.h).
void Supervisor::Dispatch() {
    std::vector<std::pair<Worker*, std::shared_ptr<Task>>> sends;
    bool screening = false;
    std::vector<std::pair<std::size_t, std::string>> moves;
    {
        std::lock_guard lock(m_shared.mutex);
        const auto now = Clock::now();
        screening = m_shared.scheduler.Screen(now);
        GameTurns turns = m_shared.scheduler.Turns(now);
        turns.TakeOverdue(Seats());

        // Lines never answered may hang. While a worker is on one, or away, lines known to be
        // answered go first; and for a while after a hang such lines may not hold every worker.
        std::size_t onUnknown = 0, away = 0;
        for (const auto& w : m_workers) {
            onUnknown += w->state == Worker::State::kBusy && w->task && !w->task->knownGood;
            away += w->state != Worker::State::kBusy && w->state != Worker::State::kIdle;
        }
        const bool storm = m_lastHang && now - *m_lastHang < kHangStorm;
        const std::size_t unknownCap =
            storm ? std::max<std::size_t>(1, m_workers.size() - 1) : m_workers.size();
        for (auto& w : m_workers) {
            if (w->state != Worker::State::kIdle || turns.Moving(w->index)) continue;
            std::shared_ptr<Task> task = m_shared.scheduler.Next(
                w->processLines == 0, onUnknown + away > 0, onUnknown < unknownCap, now, w->game);
            if (!task) continue;
            onUnknown += !task->knownGood;
            w->state = Worker::State::kBusy;  // taken now; its pipe is written below
            sends.emplace_back(w.get(), std::move(task));
        }
        turns.TakeUnserved(Seats());
        moves = turns.TakeMoves();
    }
    for (auto& [w, task] : sends) Send(*w, std::move(task));
    // The next step of a large batch's check comes after what else waits on this thread.
    if (screening && !std::exchange(m_screenPosted, true))
        asio::post(m_io, [this] {
            m_screenPosted = false;
            Wake();
        });
    if (moves.empty()) return;
    // An idle worker holds no line: ending it loses nothing, and it is not counted a restart.
    for (auto& [index, game] : moves) {
        Worker& w = *m_workers[index];
        End(w);
        w.game = std::move(game);
    }
    StartNext();
}

std::vector<Seat> Supervisor::Seats() const {
    static constexpr Seat::State kSeat[] = {Seat::State::kDown, Seat::State::kStarting,
                                            Seat::State::kIdle, Seat::State::kBusy,
                                            Seat::State::kEnding};
    std::vector<Seat> seats;
    seats.reserve(m_workers.size());
    for (const auto& w : m_workers)
        seats.push_back({w->game,
                         w->retrying ? Seat::State::kRetrying : kSeat[static_cast<int>(w->state)],
                         w->readyAt});
    return seats;
}

void Supervisor::Send(Worker& w, std::shared_ptr<Task> task) {
    w.sending = EncodeFrame(task->sjis);
    w.task = task;
    w.state = Worker::State::kBusy;
    const unsigned generation = w.generation;
    asio::async_write(w.toWorker, asio::buffer(w.sending),
                      [this, &w, generation](boost::system::error_code ec, std::size_t) {
                          if (!ec) return;
                          Run([&] {
                              if (w.generation == generation) Lost(w);
                          });
                      });
    // No timer per line: setting and cancelling one costs more than a line the plug-in has
    // cached. The sweep looks at the time instead.
    w.sentAt = Clock::now();
}

void Supervisor::PastDeadline(Worker& w) {
    const std::shared_ptr<Task> task = w.task;
    m_lastHang = Clock::now();
    Event(Kind::kDeadline, w, programs::ShiftJisToUtf8(task->sjis));
    {
        std::lock_guard lock(m_shared.mutex);
        m_shared.scheduler.TimedOut(*task);
    }
    Replace(w, "held a line past " + std::to_string(kLineDeadline.count()) + " s");
}

// The worker's pipe broke or it broke the protocol. Its exit code, once it has one, tells
// whether the line in hand ended it.
void Supervisor::Lost(Worker& w) {
    if (w.state == Worker::State::kStarting)
        return StartFailed(w, programs::Text(programs::Msg::kWorkerLost), StartKind::kLoadFailed,
                           false);
    ++w.generation;
    boost::system::error_code ignored;
    w.toWorker.close(ignored);
    w.fromWorker.close(ignored);
    w.state = Worker::State::kEnding;
    AwaitExit(w, std::move(w.task), 0);
}

void Supervisor::AwaitExit(Worker& w, std::shared_ptr<Task> task, unsigned polls) {
    DWORD code = 0;
    if (!w.process || WaitForSingleObject(w.process.get(), 0) == WAIT_OBJECT_0)
        return Died(w, std::move(task),
                    w.process && GetExitCodeProcess(w.process.get(), &code)
                        ? std::optional<DWORD>(code)
                        : std::nullopt);
    if (polls >= kExitPolls) return Died(w, std::move(task), std::nullopt);
    const unsigned generation = w.generation;
    w.timer.expires_after(kExitPoll);
    w.timer.async_wait([this, &w, generation, task, polls](boost::system::error_code ec) {
        if (ec) return;
        Run([&] {
            if (w.generation == generation) AwaitExit(w, task, polls + 1);
        });
    });
}

// Only a death the worker's code gives a reason for counts against its line: a process ended
// from outside (exit code 0 under the system's own kill) says nothing about the line.
void Supervisor::Died(Worker& w, std::shared_ptr<Task> task, std::optional<DWORD> code) {
    const bool fromOutside = code && *code == 0;
    std::string detail = programs::Text(programs::Msg::kEndedFromOutside);
    if (!code) {
        detail = "broke its pipe without ending";
    } else if (!fromOutside) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(*code));
        detail = std::string("exit code ") + hex;
    }
    std::string why = fromOutside ? detail : "ended with " + detail;
    Event(Kind::kDeath, w, task ? programs::ShiftJisToUtf8(task->sjis) : std::string(), detail);
    if (task) {
        why += " during a line";
        bool quarantined = false;
        {
            std::lock_guard lock(m_shared.mutex);
            if (fromOutside)
                m_shared.scheduler.Retry(task);
            else
                quarantined = m_shared.scheduler.Ended(task, Clock::now());
        }
        if (quarantined)
            Event(Kind::kQuarantine, w, programs::ShiftJisToUtf8(task->sjis),
                  "ended a worker, then a fresh one with " + detail);
        if (!fromOutside) CountDeath(w);
    }
    Replace(w, why);
}

void Supervisor::CountDeath(const Worker& w) {
    using R = RestartLimit;
    if (!m_restarts.Died(Clock::now())) return;
    Event(Kind::kPaused, w, {},
          programs::Format(programs::Msg::kEventPaused, {std::to_string(m_restarts.Deaths()),
                                                         std::to_string(R::kDeathWindow.count()),
                                                         std::to_string(R::kDeathPause.count())}),
          static_cast<unsigned>(R::kDeathPause.count()));
    m_pause.expires_after(R::kDeathPause);
    m_pause.async_wait([this, &w](boost::system::error_code ec) {
        if (ec) return;
        Run([&] {
            m_restarts.Resume();
            Event(Kind::kResumed, w, {}, programs::Text(programs::Msg::kEventResumed));
            StartNext();
            Dispatch();
        });
    });
}

void Supervisor::Replace(Worker& w, const std::string& why) {
    End(w);
    w.lastFault = why;
    ++w.restarts;
    StartNext();
    Dispatch();
}

// `retry`: the user can put it right (the plug-in loaded, its start failed), so it is tried
// again later; otherwise, before any worker has started, the server cannot serve.
void Supervisor::StartFailed(Worker& w, const std::string& why, StartKind kind, bool retry) {
    Event(Kind::kStartFailed, w, {}, why);
    End(w);
    w.lastFault = why;
    ++w.failures;
    if (m_state != Translator::State::kReady) {
        if (!retry) {
            m_state = Translator::State::kFailed;
            m_startedNote.emplace(m_state, kind, why);
            return;
        }
        if (m_state != Translator::State::kRetrying || why != m_problem)
            m_startedNote.emplace(Translator::State::kRetrying, kind, why);
        m_state = Translator::State::kRetrying;
    }
    m_problem = why;
    w.backoff = RestartLimit::NextRetry(w.backoff);
    Event(Kind::kBackoff, w, {}, {}, static_cast<unsigned>(w.backoff.count()));
    w.retrying = true;
    w.timer.expires_after(w.backoff);
    w.timer.async_wait([this, &w](boost::system::error_code ec) {
        if (ec) return;
        Run([&] {
            w.retrying = false;
            StartNext();
        });
    });
    StartNext();
}

// Ends the worker's process and closes its pipes, without waiting: the process holds nothing
// the next one needs. A line in hand must have been settled.
void Supervisor::End(Worker& w) {
    ++w.generation;
    boost::system::error_code ignored;
    w.toWorker.close(ignored);
    w.fromWorker.close(ignored);
    w.timer.cancel();
    // A process that cannot be ended stays in the job, which ends it with the server.
    if (w.process && !TerminateProcess(w.process.get(), 1) &&
        WaitForSingleObject(w.process.get(), 0) != WAIT_OBJECT_0) {
        const DWORD code = GetLastError();
        Event(Kind::kNotEnded, w, {},
              programs::Format(programs::Msg::kEventNotEnded,
                               {std::to_string(w.index + 1), programs::SystemMessage(code),
                                std::to_string(code)}));
    }
    w.process.reset();
    w.pid = 0;
    w.task.reset();
    w.processLines = 0;
    w.state = Worker::State::kDown;
}

void Supervisor::Sweep() {
    m_sweep.expires_after(kSweepInterval);
    m_sweep.async_wait([this](boost::system::error_code ec) {
        if (ec) return;
        Run([this] {
            const auto now = Clock::now();
            {
                std::lock_guard lock(m_shared.mutex);
                m_shared.scheduler.Sweep(now);
            }
            for (auto& w : m_workers)
                if (w->state == Worker::State::kBusy && w->task && now - w->sentAt >= kLineDeadline)
                    PastDeadline(*w);
            // A game's turn may have come by the clock alone.
            Dispatch();
        });
        Sweep();
    });
}

std::vector<HANDLE> Supervisor::Close() {
    m_closed = true;
    m_sweep.cancel();
    m_emptyCheck.cancel();
    m_pause.cancel();
    std::vector<HANDLE> processes;
    for (auto& w : m_workers) {
        boost::system::error_code ignored;
        w->toWorker.close(ignored);
        w->timer.cancel();
        if (w->process) processes.push_back(w->process.get());
    }
    return processes;
}

void Supervisor::EndAll() {
    for (auto& w : m_workers) End(*w);
}

}  // namespace server

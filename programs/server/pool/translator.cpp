#include "translator.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "code_pages.h"
#include "filter_chain.h"
#include "launcher.h"
#include "scheduler.h"
#include "supervisor.h"
#include "text_codec.h"
#include "text_plan.h"

namespace asio = boost::asio;

namespace server {
namespace {

// How long a stopping server waits for its workers to close their plug-ins.
constexpr DWORD kStopWaitMillis = 4000;

}  // namespace

// The pool's parts put together: one thread of its own runs the Asio loop that every worker's
// pipes and timers are on (the supervisor's); the server's threads come in through Submit and
// the readers, which take the shared lock for moments only.
class WorkerPool {
  public:
    explicit WorkerPool(Translator::Config config)
        : m_shared(config.queueCapacity, config.lines),
          m_launcher(config.program, config.plugin, config.options),
          m_supervisor(m_io, m_shared, m_launcher, config.workers, std::move(config.onEvent),
                       config.game) {}
    ~WorkerPool() { Stop(); }

    void Start(Translator::Started started) {
        asio::post(m_io, [this, started = std::move(started)]() mutable {
            m_supervisor.Start(std::move(started));
        });
        m_thread = std::thread([this] { m_io.run(); });
    }

    Translator::Admit Submit(std::shared_ptr<Batch> batch, Translator::Clock::time_point deadline,
                             Translator::HandBack handBack) {
        {
            std::lock_guard lock(m_shared.mutex);
            const PoolBoard& b = m_shared.board;
            if (b.state != Translator::State::kReady || b.stopping || !b.serving)
                return !b.stopping && m_shared.scheduler.AnswerCorrected(*batch)
                           ? Translator::Admit::kAnswered
                           : Translator::Admit::kNotReady;
            const Translator::Admit admit =
                m_shared.scheduler.Submit(std::move(batch), deadline, std::move(handBack));
            if (admit != Translator::Admit::kQueued) return admit;
        }
        asio::post(m_io, [this] { m_supervisor.Wake(); });
        return Translator::Admit::kQueued;
    }

    void Stop() {
        {
            std::lock_guard lock(m_shared.mutex);
            if (m_shared.board.stopping) return;
            m_shared.board.stopping = true;
            m_shared.scheduler.Clear();
        }
        std::vector<HANDLE> processes;
        if (m_thread.joinable()) {
            std::mutex mutex;
            std::condition_variable wake;
            bool closed = false;
            asio::post(m_io, [&] {
                std::vector<HANDLE> p = m_supervisor.Close();
                std::lock_guard lock(mutex);
                processes = std::move(p);
                closed = true;
                wake.notify_all();
            });
            std::unique_lock lock(mutex);
            if (!wake.wait_for(lock, std::chrono::milliseconds(kStopWaitMillis),
                               [&] { return closed; }))
                processes.clear();
        }
        // Closing a worker's input lets it finish its line, close its plug-in and end.
        if (!processes.empty())
            WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), TRUE,
                                   kStopWaitMillis);
        m_io.stop();
        if (m_thread.joinable()) m_thread.join();
        m_supervisor.EndAll();
    }

    void DictionaryChanged() {
        std::lock_guard lock(m_shared.mutex);
        m_shared.scheduler.Forget();
    }

    void CountServed(std::size_t lines) {
        std::lock_guard lock(m_shared.mutex);
        m_shared.scheduler.CountServed(lines);
    }

    PoolSnapshot Snapshot() const {
        PoolSnapshot s;
        std::vector<std::string> quarantined;
        {
            std::lock_guard lock(m_shared.mutex);
            const PoolBoard& b = m_shared.board;
            s.state = b.state;
            s.problem = b.problem;
            s.pausedSeconds = b.pausedSeconds;
            s.stats = m_shared.scheduler.Stats();
            s.stats.workers = b.live;
            s.workers = b.workers;
            quarantined = m_shared.scheduler.Quarantined(Translator::Clock::now());
        }
        for (const std::string& key : quarantined) {
            const std::string sjis(LineOfKey(key));
            s.quarantined.push_back(programs::ShiftJisToUtf8(sjis));
            s.quarantinedGames.emplace_back(GameOfKey(key));
        }
        return s;
    }

    Translator::State GetState() const {
        std::lock_guard lock(m_shared.mutex);
        return m_shared.board.state;
    }

    std::string Problem() const {
        std::lock_guard lock(m_shared.mutex);
        return m_shared.board.problem;
    }

    unsigned long StartingProcess() const {
        std::lock_guard lock(m_shared.mutex);
        return m_shared.board.starting;
    }

  private:
    PoolShared m_shared;
    // Declared before the supervisor, whose workers it makes, so that its job (which ends every
    // worker) closes last.
    Launcher m_launcher;
    asio::io_context m_io;
    Supervisor m_supervisor;
    std::thread m_thread;
};

Translator::Translator(Config config) : m_pool(std::make_unique<WorkerPool>(std::move(config))) {}

Translator::~Translator() {
    Stop();
}

void Translator::Start(Started started) {
    m_pool->Start(std::move(started));
}

Translator::Admit Translator::Submit(std::shared_ptr<Batch> batch, Clock::time_point deadline,
                                     HandBack handBack) {
    return m_pool->Submit(std::move(batch), deadline, std::move(handBack));
}

void Translator::Stop() {
    m_pool->Stop();
}

void Translator::DictionaryChanged() {
    m_pool->DictionaryChanged();
}

PoolSnapshot Translator::Snapshot() const {
    return m_pool->Snapshot();
}

Translator::State Translator::GetState() const {
    return m_pool->GetState();
}

void Translator::CountServed(std::size_t lines) {
    m_pool->CountServed(lines);
}

unsigned long Translator::StartingProcess() const {
    return m_pool->StartingProcess();
}

std::string Translator::Problem() const {
    return m_pool->Problem();
}

}  // namespace server

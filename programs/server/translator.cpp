#include "translator.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <unordered_map>
#include <boost/asio/io_context.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/windows/stream_handle.hpp>
#include <boost/asio/write.hpp>

#include "code_pages.h"
#include "filter_chain.h"
#include "frames.h"
#include "handles.h"
#include "messages.h"
#include "text_codec.h"
#include "text_plan.h"

namespace asio = boost::asio;

namespace server {
namespace {

constexpr DWORD kPipeBuffer = 64 << 10;
// A worker that cannot start is tried again after a pause that doubles up to the longest.
constexpr auto kFirstRetry = std::chrono::seconds(1);
constexpr auto kLongestRetry = std::chrono::seconds(30);
// Requests whose time is up are answered even while no worker is free to notice.
constexpr auto kSweepInterval = std::chrono::milliseconds(250);
// A Translate that returned 0 after this long gave up waiting for its engine (after its
// 3 s, less the coarse timers' slack), which is then still busy with the line.
constexpr std::uint32_t kStuckMicros = 2500000;
// A worker started unattended asks the user nothing, so a start that takes longer than this
// has an engine stuck in its start-up; it is ended and tried again like a failed start.
constexpr auto kStartLimit = std::chrono::seconds(20);
// How long a stopping server waits for its workers to close their plug-ins.
constexpr DWORD kStopWaitMillis = 4000;
// A line asked again within this long is answered by the server from the last answer, with no
// trip to a worker. Short, so that a changed user dictionary shows within a second of the
// plug-in's own reload; bounded, since entries are never older than that.
constexpr auto kRecentFor = std::chrono::seconds(1);
constexpr std::size_t kRecentBytes = 4 << 20;

bool IsBlank(const std::string& s) {
    return s.find_first_not_of(" \t") == std::string::npos;
}

// One argument as CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
        } else {
            if (c == L'"') out.append(slashes + 1, L'\\');
            slashes = 0;
        }
        out.push_back(c);
    }
    out.append(slashes, L'\\');
    return out + L"\"";
}

// Every process in it ends once its last handle is closed: the pool holds the only one, so
// the workers end with the server however the server ends, killed included.
mirelo::UniqueHandle MakeKillJob() {
    mirelo::UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits))
        job.reset();
    return job;
}

std::string SystemFailure() {
    const DWORD code = GetLastError();
    return host::Format(host::Msg::kWorkerNoStart,
                        {host::SystemMessage(code), std::to_string(code)});
}

}  // namespace

Batch::Batch(const std::vector<std::string>& texts) {
    for (const std::string& source : texts) {
        Text text{source, {}};
        for (const Line& line : SplitLines(source)) {
            ++m_lines;
            for (host::TextRun& run : host::SplitByShiftJis(std::string(line.text))) {
                if (run.keep || IsBlank(run.text)) {
                    // Kept as the client sent it: Shift-JIS blanks are ASCII, as in UTF-8.
                    text.parts.push_back({kKept, std::move(run.text)});
                    continue;
                }
                for (std::string_view piece : SplitShiftJis(run.text, mirelo::kMaxSourceBytes)) {
                    text.parts.push_back({m_pieces.size(), {}});
                    m_pieces.push_back({std::string(piece), {}, Outcome::kTimedOut});
                }
            }
            if (!line.end.empty()) text.parts.push_back({kKept, std::string(line.end)});
        }
        m_texts.push_back(std::move(text));
    }
}

Batch::Result Batch::Get(std::size_t index) const {
    const Text& t = m_texts[index];
    Result r{Outcome::kTranslated, {}};
    for (const Part& p : t.parts) {
        if (p.piece == kKept) {
            r.text += p.kept;
            continue;
        }
        const Piece& piece = m_pieces[p.piece];
        r.outcome = std::max(r.outcome, piece.outcome);
        r.text += piece.answer;
    }
    if (r.outcome != Outcome::kTranslated) r.text = t.source;
    return r;
}

// Runs every worker's pipes on one thread of its own (an Asio loop); the state below is
// shared with the server's threads under m_mutex.
class Pool {
  public:
    explicit Pool(Translator::Config config)
        : m_config(std::move(config)), m_job(MakeKillJob()), m_sweep(m_io) {
        m_stats.capacity = m_config.queueCapacity;
        for (unsigned i = 0; i < std::max(1u, m_config.workers); ++i)
            m_workers.push_back(std::make_unique<Worker>(m_io));
    }
    ~Pool() { Stop(); }

    void Start(Translator::Started started) {
        m_started = std::move(started);
        asio::post(m_io, [this] { Locked([this] { StartNext(); }); });
        Sweep();
        m_thread = std::thread([this] { m_io.run(); });
    }

    Translator::Admit Submit(std::shared_ptr<Batch> batch, Translator::Clock::time_point deadline,
                             Translator::HandBack handBack) {
        const std::size_t pieces = batch->PieceCount();
        {
            std::lock_guard lock(m_mutex);
            if (m_state != Translator::State::kReady || m_stopping ||
                (!m_problem.empty() && LiveWorkers() == 0))
                return Translator::Admit::kNotReady;
            if (AnswerFromRecent(*batch)) return Translator::Admit::kAnswered;
            // A request larger than the whole queue still goes in alone, so every request
            // within the body limit can be served.
            if (m_pending > 0 && m_pending + pieces > m_config.queueCapacity) {
                ++m_stats.rejectedBusy;
                return Translator::Admit::kFull;
            }
            auto job = std::make_shared<Job>();
            job->batch = std::move(batch);
            job->deadline = deadline;
            job->handBack = std::move(handBack);
            job->open = pieces;
            m_jobs.push_back(std::move(job));
            m_pending += pieces;
        }
        asio::post(m_io, [this] { Locked([this] { Dispatch(); }); });
        return Translator::Admit::kQueued;
    }

    void Stop() {
        std::vector<HANDLE> processes;
        {
            std::unique_lock lock(m_mutex);
            if (m_stopping) return;
            m_stopping = true;
            // What waits holds sessions, which must go before the server that made them.
            m_jobs.clear();
            if (m_thread.joinable()) {
                // Closing a worker's input lets it finish its line, close its plug-in and end.
                asio::post(m_io, [this] {
                    std::lock_guard locked(m_mutex);
                    for (auto& w : m_workers) {
                        boost::system::error_code ignored;
                        w->toWorker.close(ignored);
                    }
                    m_sweep.cancel();
                    m_closed = true;
                    m_closedWake.notify_all();
                });
                m_closedWake.wait_for(lock, std::chrono::milliseconds(kStopWaitMillis),
                                      [this] { return m_closed; });
                for (auto& w : m_workers)
                    if (w->process) processes.push_back(w->process.get());
            }
        }
        if (!processes.empty())
            WaitForMultipleObjects(static_cast<DWORD>(processes.size()), processes.data(), TRUE,
                                   kStopWaitMillis);
        m_io.stop();
        if (m_thread.joinable()) m_thread.join();
        for (auto& w : m_workers) End(*w);
    }

    Translator::State GetState() const {
        std::lock_guard lock(m_mutex);
        return m_state;
    }

    std::string Problem() const {
        std::lock_guard lock(m_mutex);
        return m_problem;
    }

    TranslatorStats GetStats() const {
        std::lock_guard lock(m_mutex);
        TranslatorStats s = m_stats;
        s.queued = m_pending;
        s.workers = LiveWorkers();
        return s;
    }

    void CountServed(std::size_t lines) {
        std::lock_guard lock(m_mutex);
        m_stats.linesServed += lines;
    }

    std::vector<WorkerStatus> GetWorkers() const {
        static constexpr const char* kStates[] = {"down", "starting", "idle", "busy"};
        std::lock_guard lock(m_mutex);
        std::vector<WorkerStatus> out;
        for (const auto& w : m_workers) {
            WorkerStatus s;
            s.pid = w->pid;
            s.state = w->retrying ? "restarting" : kStates[static_cast<int>(w->state)];
            s.lines = w->lines;
            s.restarts = w->restarts;
            s.lastFault = w->lastFault;
            out.push_back(std::move(s));
        }
        return out;
    }

    std::vector<std::string> GetQuarantined() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> out;
        for (const std::string& sjis : m_quarantine)
            out.push_back(
                mirelo::WideToUtf8(mirelo::CodePageToWide(mirelo::kShiftJisCodePage, sjis)));
        return out;
    }

    unsigned long StartingProcess() const {
        std::lock_guard lock(m_mutex);
        for (const auto& w : m_workers)
            if (w->state == Worker::State::kStarting) return w->pid;
        return 0;
    }

  private:
    struct Job {
        std::shared_ptr<Batch> batch;
        Translator::Clock::time_point deadline;
        Translator::HandBack handBack;
        std::size_t next = 0;           // the first piece not yet sent
        std::size_t open = 0;           // pieces without an outcome
        std::deque<std::size_t> retry;  // pieces whose worker ended: sent again first
        TranslatorStats tally;

        bool HasUnsent() const { return next < batch->PieceCount() || !retry.empty(); }
    };

    struct Worker {
        enum class State { kDown, kStarting, kIdle, kBusy };
        explicit Worker(asio::io_context& io) : toWorker(io), fromWorker(io), retry(io) {}
        State state = State::kDown;
        asio::windows::stream_handle toWorker;
        asio::windows::stream_handle fromWorker;
        asio::steady_timer retry;
        bool retrying = false;
        std::chrono::seconds backoff{0};
        mirelo::UniqueHandle process;
        unsigned long pid = 0;
        // Bumped whenever the worker's pipes go: completions of an earlier one are ignored.
        unsigned generation = 0;
        unsigned char header[kFrameHeader] = {};
        std::string payload;
        std::string sending;
        std::shared_ptr<Job> job;  // the line in hand
        std::size_t piece = 0;
        uint64_t lines = 0;
        unsigned restarts = 0;
        std::string lastFault;
    };

    // Every piece of the batch answered a moment ago, or none of it: a one-line request
    // asked again, or a whole batch repeated, never waits behind a worker.
    bool AnswerFromRecent(Batch& batch) {
        if (m_recent.empty()) return false;
        const auto now = Translator::Clock::now();
        std::vector<const std::string*> answers;
        for (const Batch::Piece& piece : batch.m_pieces) {
            const auto it = m_recent.find(piece.sjis);
            if (it == m_recent.end() || it->second.until < now) return false;
            answers.push_back(&it->second.answer);
        }
        for (std::size_t i = 0; i < answers.size(); ++i) {
            batch.m_pieces[i].answer = *answers[i];
            batch.m_pieces[i].outcome = Outcome::kTranslated;
        }
        m_stats.recentHits += answers.size();
        return true;
    }

    void Remember(const std::string& sjis, const std::string& answer) {
        const std::size_t bytes = sjis.size() + answer.size();
        if (bytes > kRecentBytes / 16) return;
        const auto now = Translator::Clock::now();
        if (m_recentBytes + bytes > kRecentBytes) {
            std::erase_if(m_recent, [&](const auto& entry) {
                if (entry.second.until >= now) return false;
                m_recentBytes -= entry.first.size() + entry.second.answer.size();
                return true;
            });
            if (m_recentBytes + bytes > kRecentBytes) {
                m_recent.clear();
                m_recentBytes = 0;
            }
        }
        auto [it, added] = m_recent.try_emplace(sjis);
        if (!added) m_recentBytes -= it->first.size() + it->second.answer.size();
        it->second = {answer, now + kRecentFor};
        m_recentBytes += bytes;
    }

    std::size_t LiveWorkers() const {
        return static_cast<std::size_t>(
            std::count_if(m_workers.begin(), m_workers.end(), [](const auto& w) {
                return w->state == Worker::State::kIdle || w->state == Worker::State::kBusy;
            }));
    }

    // Runs `work` under the lock, then what it left to run outside it: the hand-backs of
    // finished requests and the word that the first worker started.
    template <class Work>
    void Locked(Work work) {
        std::vector<Translator::HandBack> done;
        std::optional<StartNote> started;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
            work();
            done.swap(m_done);
            started.swap(m_startedNote);
        }
        if (started) m_started(started->state, started->kind, started->message);
        for (auto& handBack : done) handBack();
    }

    // Workers start one at a time, each once the one before has returned from OnPluginInit:
    // engines of this kind have crashed when started in several processes at once, and only
    // the first may ask the user for the engine's folder.
    void StartNext() {
        if (m_state == Translator::State::kFailed) return;
        for (auto& w : m_workers)
            if (w->state == Worker::State::kStarting) return;
        for (auto& w : m_workers) {
            if (w->state != Worker::State::kDown || w->retrying) continue;
            Launch(*w);
            return;
        }
    }

    void Launch(Worker& w) {
        ++w.generation;
        if (!CreateWorker(w)) return StartFailed(w, SystemFailure(), StartKind::kSystem);
        w.state = Worker::State::kStarting;
        Read(w);
        // Only the first start may wait on the user, for as long as the user takes.
        if (m_launches > 1) {
            const unsigned generation = w.generation;
            w.retry.expires_after(kStartLimit);
            w.retry.async_wait([this, &w, generation](boost::system::error_code ec) {
                if (ec) return;
                Locked([&] {
                    if (w.generation == generation && w.state == Worker::State::kStarting)
                        StartFailed(w, "did not start within 20 s", StartKind::kInitFailed);
                });
            });
        }
    }

    bool CreateWorker(Worker& w) {
        const std::wstring base = L"\\\\.\\pipe\\mirelo-server-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++m_pipes);
        auto serverEnd = [](const std::wstring& name, DWORD access) {
            return mirelo::UniqueFile(CreateNamedPipeW(
                name.c_str(), access | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                PIPE_TYPE_BYTE | PIPE_WAIT, 1, kPipeBuffer, kPipeBuffer, 0, nullptr));
        };
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        auto childEnd = [&inherit](const std::wstring& name, DWORD access) {
            return mirelo::UniqueFile(
                CreateFileW(name.c_str(), access, 0, &inherit, OPEN_EXISTING, 0, nullptr));
        };
        mirelo::UniqueFile to = serverEnd(base + L"-in", PIPE_ACCESS_OUTBOUND);
        mirelo::UniqueFile from = serverEnd(base + L"-out", PIPE_ACCESS_INBOUND);
        if (!to || !from) return false;
        mirelo::UniqueFile childIn = childEnd(base + L"-in", GENERIC_READ);
        mirelo::UniqueFile childOut = childEnd(base + L"-out", GENERIC_WRITE);
        if (!childIn || !childOut) return false;

        // The child inherits its two pipe ends and nothing else, sockets included.
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<char> attributes(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
        HANDLE handles[2] = {childIn.get(), childOut.get()};
        const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                      handles, sizeof handles, nullptr, nullptr);
        STARTUPINFOEXW si = {};
        si.StartupInfo.cb = sizeof si;
        si.lpAttributeList = listed ? list : nullptr;
        std::wstring cmd = Quote(m_config.program) + L" --worker " +
                           std::to_wstring(reinterpret_cast<UINT_PTR>(childIn.get())) + L" " +
                           std::to_wstring(reinterpret_cast<UINT_PTR>(childOut.get())) +
                           // Only the first start may ask the user anything.
                           (m_launches++ > 0 ? L" --unattended" : L"") + L" --lang " +
                           (host::CurrentLanguage() == host::Language::kKorean ? L"ko" : L"en") +
                           L" --plugin " + Quote(m_config.plugin);
        if (!m_config.options.empty())
            cmd += L" --options " + Quote(mirelo::Utf8ToWide(m_config.options));
        PROCESS_INFORMATION pi = {};
        const BOOL created =
            CreateProcessW(m_config.program.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                           CREATE_SUSPENDED | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0), nullptr,
                           nullptr, &si.StartupInfo, &pi);
        DeleteProcThreadAttributeList(list);
        if (!created) return false;
        mirelo::UniqueHandle process(pi.hProcess);
        const mirelo::UniqueHandle thread(pi.hThread);
        // Resumed only once in the job, so that it can never outlive the server.
        if (!m_job || !AssignProcessToJobObject(m_job.get(), process.get())) {
            const DWORD code = m_job ? GetLastError() : ERROR_INVALID_HANDLE;
            TerminateProcess(process.get(), 1);
            SetLastError(code);
            return false;
        }
        ResumeThread(thread.get());
        w.process = std::move(process);
        w.pid = pi.dwProcessId;
        w.toWorker.assign(to.release());
        w.fromWorker.assign(from.release());
        return true;
    }

    // Reads one frame from the worker, then OnFrame; anything else means the worker is lost.
    void Read(Worker& w) {
        const unsigned generation = w.generation;
        asio::async_read(w.fromWorker, asio::buffer(w.header),
                         [this, &w, generation](boost::system::error_code ec, std::size_t) {
                             Locked([&] {
                                 if (w.generation != generation) return;
                                 const std::optional<std::uint32_t> n =
                                     ec ? std::nullopt : FrameLength(w.header);
                                 if (!n) return Lost(w);
                                 w.payload.resize(*n);
                                 asio::async_read(w.fromWorker, asio::buffer(w.payload),
                                                  [this, &w, generation](
                                                      boost::system::error_code e, std::size_t) {
                                                      Locked([&] {
                                                          if (w.generation != generation) return;
                                                          if (e) return Lost(w);
                                                          OnFrame(w);
                                                      });
                                                  });
                             });
                         });
    }

    void OnFrame(Worker& w) {
        if (w.state == Worker::State::kStarting) {
            const std::optional<Started> started = DecodeStarted(w.payload);
            if (!started) return Lost(w);
            if (started->result != StartResult::kReady)
                return StartFailed(w, started->message,
                                   started->result == StartResult::kInitFailed
                                       ? StartKind::kInitFailed
                                       : StartKind::kLoadFailed);
            w.state = Worker::State::kIdle;
            w.retry.cancel();
            w.backoff = std::chrono::seconds(0);
            m_problem.clear();
            if (m_state != Translator::State::kReady) {
                m_state = Translator::State::kReady;
                m_startedNote = StartNote{m_state, StartKind::kNone, {}};
            }
            Read(w);
            StartNext();
            return Dispatch();
        }
        const std::optional<LineReply> reply = DecodeReply(w.payload);
        if (w.state != Worker::State::kBusy || !reply) return Lost(w);
        ++w.lines;
        Take(w, *reply);
        if (reply->reply == Reply::kGaveUp && reply->micros >= kStuckMicros) {
            // The engine is still on the line the plug-in stopped waiting for and may never
            // come back: a fresh process costs less than a stuck one. (A plug-in that refuses
            // a line at once leaves no engine behind it busy.)
            return Replace(w, "gave up on a line after 3 s");
        }
        w.state = Worker::State::kIdle;
        Read(w);
        Dispatch();
    }

    void Take(Worker& w, const LineReply& reply) {
        std::shared_ptr<Job> job = std::move(w.job);
        Batch::Piece& piece = job->batch->m_pieces[w.piece];
        TranslatorStats& tally = job->tally;
        --job->open;
        if (reply.reply == Reply::kGaveUp) {
            piece.outcome = reply.micros >= kStuckMicros ? Outcome::kHung : Outcome::kTimedOut;
            ++tally.timedOut;
        } else {
            piece.outcome =
                reply.reply == Reply::kTranslated ? Outcome::kTranslated : Outcome::kUntranslated;
            piece.answer = reply.text;
            if (piece.outcome == Outcome::kTranslated) Remember(piece.sjis, piece.answer);
            ++tally.pluginCalls;
            if (reply.cacheHit) {
                ++tally.cacheHits;
            } else {
                ++tally.engineLines;
                tally.engineMillis += reply.micros / 1000.0;
                if (reply.reply == Reply::kUntranslated) ++tally.untranslated;
            }
        }
        FinishIfDone(job);
    }

    // The worker ended, broke the protocol or its pipe failed: a fresh worker takes its
    // place. Its line goes to another worker once; a line that ends a second worker is
    // quarantined, as it would go on ending workers.
    void Lost(Worker& w) {
        if (w.state == Worker::State::kStarting)
            return StartFailed(w, host::Text(host::Msg::kWorkerLost), StartKind::kLoadFailed);
        std::string why = "ended";
        DWORD code = 0;
        if (w.process && WaitForSingleObject(w.process.get(), 1000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(w.process.get(), &code)) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
            why += std::string(" with exit code ") + hex;
        }
        if (std::shared_ptr<Job> job = std::move(w.job)) {
            why += " during a line";
            const std::string& text = job->batch->m_pieces[w.piece].sjis;
            if (++m_endings[text] < 2) {
                job->retry.push_back(w.piece);
            } else {
                m_quarantine.insert(text);
                Quarantined(job, w.piece);
            }
        }
        Replace(w, why);
    }

    void Replace(Worker& w, const std::string& why) {
        End(w);
        w.lastFault = why;
        ++w.restarts;
        StartNext();
        Dispatch();
    }

    // A quarantined line is answered failed without going to any worker.
    void Quarantined(const std::shared_ptr<Job>& job, std::size_t piece) {
        job->batch->m_pieces[piece].outcome = Outcome::kQuarantined;
        --job->open;
        ++job->tally.quarantined;
        FinishIfDone(job);
    }

    // `retry`: the user can put it right (the plug-in loaded, its start failed), so it is
    // tried again later; otherwise, before any worker has started, the server cannot serve.
    void StartFailed(Worker& w, const std::string& why, StartKind kind) {
        const bool retry = kind == StartKind::kInitFailed;
        End(w);
        w.lastFault = why;
        if (m_state != Translator::State::kReady) {
            if (!retry) {
                m_state = Translator::State::kFailed;
                m_startedNote = StartNote{m_state, kind, why};
                return;
            }
            if (m_state != Translator::State::kRetrying || why != m_problem)
                m_startedNote = StartNote{Translator::State::kRetrying, kind, why};
            m_state = Translator::State::kRetrying;
        }
        m_problem = why;
        w.backoff = std::min<std::chrono::seconds>(
            kLongestRetry, std::max<std::chrono::seconds>(kFirstRetry, w.backoff * 2));
        w.retrying = true;
        w.retry.expires_after(w.backoff);
        w.retry.async_wait([this, &w](boost::system::error_code ec) {
            if (ec) return;
            Locked([&] {
                w.retrying = false;
                StartNext();
            });
        });
        StartNext();
    }

    // Ends the worker's process and closes its pipes; a line in hand must have been settled.
    void End(Worker& w) {
        ++w.generation;
        boost::system::error_code ignored;
        w.toWorker.close(ignored);
        w.fromWorker.close(ignored);
        if (w.process) {
            TerminateProcess(w.process.get(), 1);
            WaitForSingleObject(w.process.get(), 1000);
        }
        w.process.reset();
        w.pid = 0;
        w.job.reset();
        w.state = Worker::State::kDown;
    }

    // Gives each idle worker a line, taking the waiting requests in turn so that a large
    // batch does not hold up a one-line request behind it.
    void Dispatch() {
        for (auto& w : m_workers) {
            while (w->state == Worker::State::kIdle) {
                std::shared_ptr<Job> job = NextLine();
                if (!job) return;
                std::size_t piece = job->next;
                if (job->retry.empty()) {
                    ++job->next;
                } else {
                    piece = job->retry.front();
                    job->retry.pop_front();
                }
                if (m_quarantine.contains(job->batch->m_pieces[piece].sjis))
                    Quarantined(job, piece);
                else
                    Send(*w, std::move(job), piece);
            }
        }
    }

    // The request whose turn it is with a line still to send; requests whose time is up on
    // the way are settled.
    std::shared_ptr<Job> NextLine() {
        const auto now = Translator::Clock::now();
        for (std::size_t tried = 0; tried < m_jobs.size();) {
            if (m_turn >= m_jobs.size()) m_turn = 0;
            std::shared_ptr<Job> job = m_jobs[m_turn];
            if (!job->HasUnsent()) {
                ++m_turn;
                ++tried;
                continue;
            }
            if (job->batch->Cancelled() || now > job->deadline) {
                Expire(job);
                tried = 0;  // the list may have changed
                continue;
            }
            ++m_turn;
            return job;
        }
        return nullptr;
    }

    // Lines not sent by the deadline are not answered in time; those of a client that has
    // gone are not sent at all.
    void Expire(const std::shared_ptr<Job>& job) {
        const std::size_t unsent = job->batch->PieceCount() - job->next + job->retry.size();
        job->next = job->batch->PieceCount();
        job->retry.clear();
        job->open -= unsent;
        (job->batch->Cancelled() ? job->tally.cancelled : job->tally.timedOut) += unsent;
        FinishIfDone(job);
    }

    void Sweep() {
        m_sweep.expires_after(kSweepInterval);
        m_sweep.async_wait([this](boost::system::error_code ec) {
            if (ec) return;
            Locked([this] {
                const auto now = Translator::Clock::now();
                const std::vector<std::shared_ptr<Job>> jobs(m_jobs.begin(), m_jobs.end());
                for (const auto& job : jobs)
                    if ((job->batch->Cancelled() || now > job->deadline) && job->HasUnsent())
                        Expire(job);
            });
            Sweep();
        });
    }

    void Send(Worker& w, std::shared_ptr<Job> job, std::size_t piece) {
        w.piece = piece;
        w.sending = EncodeFrame(job->batch->m_pieces[w.piece].sjis);
        w.job = std::move(job);
        w.state = Worker::State::kBusy;
        const unsigned generation = w.generation;
        asio::async_write(w.toWorker, asio::buffer(w.sending),
                          [this, &w, generation](boost::system::error_code ec, std::size_t) {
                              if (!ec) return;
                              Locked([&] {
                                  if (w.generation == generation) Lost(w);
                              });
                          });
    }

    void FinishIfDone(const std::shared_ptr<Job>& job) {
        if (job->open != 0 || job->HasUnsent()) return;
        const auto at = std::find(m_jobs.begin(), m_jobs.end(), job);
        if (at == m_jobs.end()) return;
        const auto index = static_cast<std::size_t>(at - m_jobs.begin());
        m_jobs.erase(at);
        if (index < m_turn) --m_turn;
        const TranslatorStats& t = job->tally;
        m_pending -= job->batch->PieceCount();
        m_stats.pluginCalls += t.pluginCalls;
        m_stats.cacheHits += t.cacheHits;
        m_stats.engineLines += t.engineLines;
        m_stats.engineMillis += t.engineMillis;
        m_stats.untranslated += t.untranslated;
        m_stats.timedOut += t.timedOut;
        m_stats.cancelled += t.cancelled;
        m_stats.quarantined += t.quarantined;
        m_done.push_back(std::move(job->handBack));
    }

    const Translator::Config m_config;
    // Declared first so that it is closed last, after every worker has been ended.
    mirelo::UniqueHandle m_job;
    asio::io_context m_io;
    asio::steady_timer m_sweep;
    std::vector<std::unique_ptr<Worker>> m_workers;
    Translator::Started m_started;
    unsigned m_pipes = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_closedWake;
    bool m_closed = false;
    bool m_stopping = false;
    Translator::State m_state = Translator::State::kStarting;
    std::string m_problem;  // why the last start failed, until a worker starts
    unsigned m_launches = 0;
    std::deque<std::shared_ptr<Job>> m_jobs;
    std::map<std::string, unsigned> m_endings;  // Shift-JIS lines by the workers they ended
    std::set<std::string> m_quarantine;         // those that ended two
    struct Recent {
        std::string answer;
        Translator::Clock::time_point until;
    };
    std::unordered_map<std::string, Recent> m_recent;  // Shift-JIS lines lately translated
    std::size_t m_recentBytes = 0;
    std::size_t m_turn = 0;     // index in m_jobs of the request whose turn is next
    std::size_t m_pending = 0;  // pieces of the requests in m_jobs
    TranslatorStats m_stats;
    std::vector<Translator::HandBack> m_done;
    struct StartNote {
        Translator::State state;
        StartKind kind;
        std::string message;
    };
    std::optional<StartNote> m_startedNote;
    std::thread m_thread;
};

Translator::Translator(Config config) : m_pool(std::make_unique<Pool>(std::move(config))) {}

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

Translator::State Translator::GetState() const {
    return m_pool->GetState();
}

TranslatorStats Translator::GetStats() const {
    return m_pool->GetStats();
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

std::vector<WorkerStatus> Translator::GetWorkers() const {
    return m_pool->GetWorkers();
}

PoolSnapshot Translator::Snapshot() const {
    PoolSnapshot s;
    s.state = GetState();
    s.problem = Problem();
    s.stats = GetStats();
    s.workers = GetWorkers();
    s.quarantined = GetQuarantined();
    return s;
}

void Translator::DictionaryChanged() {}

std::vector<std::string> Translator::GetQuarantined() const {
    return m_pool->GetQuarantined();
}

}  // namespace server

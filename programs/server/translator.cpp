#include "translator.h"

#include <algorithm>
#include <cstring>

#include "filter_chain.h"
#include "messages.h"
#include "plugin_host.h"
#include "text_codec.h"
#include "text_plan.h"
#include "translation_cache.h"

namespace server {
namespace {

// Larger than any answer the plug-in writes (it finishes text in buffers smaller than this).
constexpr int kDestSize = 64 << 10;
// The destination is filled with this before each call: a destination without any NUL after
// Translate returned 1 was left untouched, which the plug-in does when the engine gave
// nothing (or failed on the line).
constexpr char kUntouched = '\xFF';
constexpr DWORD kPumpMillis = 100;

bool IsBlank(const std::string& s) {
    return s.find_first_not_of(" \t") == std::string::npos;
}

// Calls Translate for one piece at a time and tells what became of it.
class PluginCaller {
  public:
    explicit PluginCaller(host::PluginHost& plugin)
        : m_plugin(plugin), m_dest(kDestSize, kUntouched) {}

    struct Call {
        Outcome outcome;
        bool cacheHit;
        double millis;
    };

    Call Translate(const std::string& sjis, std::string& answer) {
        // The plug-in's cache is not visible from outside; a record of the same size and rule
        // (least recently used, filed only when answered) tells which lines it holds.
        const uint32_t key = mirelo::HashText(sjis.c_str());
        const bool hit = m_record.FindEntry(key, sjis) != nullptr;
        LARGE_INTEGER freq, t0, t1;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&t0);
        const int ok = m_plugin.Translate(sjis.c_str(), m_dest.data(), kDestSize);
        QueryPerformanceCounter(&t1);
        const double millis = 1e3 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                              static_cast<double>(freq.QuadPart);
        if (!ok) {
            // It may still write into these later: they stay until the plug-in is closed.
            m_abandoned.push_back({sjis, std::move(m_dest)});
            m_dest.assign(kDestSize, kUntouched);
            return {Outcome::kTimedOut, false, millis};
        }
        const void* nul = std::memchr(m_dest.data(), '\0', m_dest.size());
        if (!nul) return {Outcome::kUntranslated, hit, millis};
        const std::size_t n =
            static_cast<std::size_t>(static_cast<const char*>(nul) - m_dest.data());
        answer = host::Cp949ToUtf8(std::string(m_dest.data(), n));
        std::memset(m_dest.data(), kUntouched, n + 1);
        if (!hit) m_record.AddEntry(key, sjis, {});
        return {Outcome::kTranslated, hit, millis};
    }

  private:
    struct Abandoned {
        std::string source;
        std::vector<char> dest;
    };
    host::PluginHost& m_plugin;
    std::vector<char> m_dest;
    mirelo::TranslationCache m_record;
    std::vector<Abandoned> m_abandoned;
};

}  // namespace

class Translator::Lock {
  public:
    explicit Lock(SRWLOCK& l) : m_l(l) { AcquireSRWLockExclusive(&m_l); }
    ~Lock() { ReleaseSRWLockExclusive(&m_l); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    SRWLOCK& m_l;
};

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

Translator::Translator(Config config) : m_config(std::move(config)) {
    m_stats.capacity = m_config.queueCapacity;
}

Translator::~Translator() {
    Stop();
}

void Translator::Start(std::function<void(State, const std::string&)> started) {
    m_thread = std::thread([this, started = std::move(started)] { Run(started); });
}

Translator::Admit Translator::Submit(std::shared_ptr<Batch> batch, Clock::time_point deadline,
                                     std::function<void()> done) {
    const std::size_t pieces = batch->PieceCount();
    {
        Lock lock(m_lock);
        if (m_state != State::kReady || m_stopping) return Admit::kNotReady;
        // A request larger than the whole queue still goes in alone, so every request within
        // the body limit can be served.
        if (m_pending > 0 && m_pending + pieces > m_config.queueCapacity) {
            ++m_stats.rejectedBusy;
            return Admit::kFull;
        }
        m_pending += pieces;
        m_queue.push_back({std::move(batch), deadline, std::move(done)});
    }
    WakeConditionVariable(&m_wake);
    return Admit::kQueued;
}

void Translator::Stop() {
    {
        Lock lock(m_lock);
        m_stopping = true;
    }
    WakeConditionVariable(&m_wake);
    if (m_thread.joinable()) m_thread.join();
}

Translator::State Translator::GetState() const {
    Lock lock(m_lock);
    return m_state;
}

TranslatorStats Translator::GetStats() const {
    Lock lock(m_lock);
    TranslatorStats s = m_stats;
    s.queued = m_pending;
    return s;
}

void Translator::CountServed(std::size_t lines) {
    Lock lock(m_lock);
    m_stats.linesServed += lines;
}

void Translator::Fail(const std::string& message,
                      const std::function<void(State, const std::string&)>& started) {
    {
        Lock lock(m_lock);
        m_state = State::kFailed;
    }
    started(State::kFailed, message);
}

void Translator::Run(std::function<void(State, const std::string&)> started) {
    host::HostWindow window;  // outlives the plug-in, which holds on to its handle
    if (!window.get())
        return Fail(host::Format(host::Msg::kNoWindow, {std::to_string(GetLastError())}), started);
    host::PluginHost plugin;
    std::string message;
    if (plugin.Load(m_config.plugin, message) != host::LoadResult::kLoaded)
        return Fail(message, started);
    char options[16] = {};
    std::memcpy(options, m_config.options.data(),
                std::min<std::size_t>(m_config.options.size(), 15));
    if (!plugin.Init(window.get(), options)) {
        plugin.Close();  // its worker runs on after a failed start and must be stopped
        return Fail(host::Text(host::Msg::kPluginDidNotStart), started);
    }
    {
        Lock lock(m_lock);
        m_state = State::kReady;
    }
    started(State::kReady, {});

    PluginCaller caller(plugin);
    for (;;) {
        Job job;
        {
            Lock lock(m_lock);
            while (m_queue.empty() && !m_stopping) {
                // Wakes now and then so that messages for the window are handled.
                if (!SleepConditionVariableSRW(&m_wake, &m_lock, kPumpMillis, 0)) {
                    ReleaseSRWLockExclusive(&m_lock);
                    window.Pump();
                    AcquireSRWLockExclusive(&m_lock);
                }
            }
            if (m_stopping) break;
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        TranslatorStats delta;
        for (Batch::Piece& piece : job.batch->m_pieces) {
            if (Clock::now() > job.deadline || m_stopping) {
                piece.outcome = Outcome::kTimedOut;
                ++delta.timedOut;
                continue;
            }
            const PluginCaller::Call call = caller.Translate(piece.sjis, piece.answer);
            piece.outcome = call.outcome;
            if (call.outcome == Outcome::kTimedOut) {
                ++delta.timedOut;
                continue;
            }
            ++delta.pluginCalls;
            if (call.cacheHit) {
                ++delta.cacheHits;
                continue;
            }
            ++delta.engineLines;
            delta.engineMillis += call.millis;
            if (call.outcome == Outcome::kUntranslated) ++delta.untranslated;
        }
        {
            Lock lock(m_lock);
            m_pending -= job.batch->PieceCount();
            m_stats.pluginCalls += delta.pluginCalls;
            m_stats.cacheHits += delta.cacheHits;
            m_stats.engineLines += delta.engineLines;
            m_stats.engineMillis += delta.engineMillis;
            m_stats.untranslated += delta.untranslated;
            m_stats.timedOut += delta.timedOut;
        }
        job.done();
        window.Pump();
    }
    {
        // What waits holds sessions, which must go before the server that made them.
        Lock lock(m_lock);
        m_queue.clear();
    }
    plugin.Close();
}

}  // namespace server

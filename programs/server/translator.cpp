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
constexpr auto kPumpInterval = std::chrono::milliseconds(100);

bool IsBlank(const std::string& s) {
    return s.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

// Calls Translate for one piece at a time and tells what became of it.
class Translator::Caller {
  public:
    explicit Caller(host::PluginHost& plugin) : m_plugin(plugin), m_dest(kDestSize, kUntouched) {}

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
            // The plug-in never writes into the buffers of a call it gave up on, so the same
            // destination serves the next call once it is marked untouched again.
            Remark();
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

    // After a call whose answer could not be taken: what it left must not pass for the next.
    void Remark() { std::memset(m_dest.data(), kUntouched, m_dest.size()); }

  private:
    host::PluginHost& m_plugin;
    std::vector<char> m_dest;
    mirelo::TranslationCache m_record;
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

void Translator::Start(Started started) {
    m_thread = std::thread([this, started = std::move(started)] { Run(started); });
}

Translator::Admit Translator::Submit(std::shared_ptr<Batch> batch, Clock::time_point deadline,
                                     HandBack handBack) {
    const std::size_t pieces = batch->PieceCount();
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::kReady || m_stopping) return Admit::kNotReady;
        // A request larger than the whole queue still goes in alone, so every request within
        // the body limit can be served.
        if (m_pending > 0 && m_pending + pieces > m_config.queueCapacity) {
            ++m_stats.rejectedBusy;
            return Admit::kFull;
        }
        m_queue.push_back({std::move(batch), deadline, std::move(handBack)});
        m_pending += pieces;
    }
    m_wake.notify_one();
    return Admit::kQueued;
}

void Translator::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
}

Translator::State Translator::GetState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

TranslatorStats Translator::GetStats() const {
    std::lock_guard lock(m_mutex);
    TranslatorStats s = m_stats;
    s.queued = m_pending;
    return s;
}

void Translator::CountServed(std::size_t lines) {
    std::lock_guard lock(m_mutex);
    m_stats.linesServed += lines;
}

void Translator::Run(const Started& started) {
    host::HostWindow window;  // outlives the plug-in, which holds on to its handle
    host::PluginHost plugin;
    const std::string failure = StartPlugin(window, plugin);
    if (!failure.empty()) return SetState(State::kFailed, started, failure);
    SetState(State::kReady, started);
    Serve(window, plugin);
    {
        // What waits holds sessions, which must go before the server that made them.
        std::lock_guard lock(m_mutex);
        m_queue.clear();
    }
    plugin.Close();
}

std::string Translator::StartPlugin(host::HostWindow& window, host::PluginHost& plugin) {
    if (!window.get()) return host::Format(host::Msg::kNoWindow, {std::to_string(GetLastError())});
    std::string message;
    if (plugin.Load(m_config.plugin, message) != host::LoadResult::kLoaded) return message;
    char options[16] = {};
    std::memcpy(options, m_config.options.data(),
                std::min<std::size_t>(m_config.options.size(), 15));
    if (!plugin.Init(window.get(), options)) {
        plugin.Close();  // its worker runs on after a failed start and must be stopped
        return host::Text(host::Msg::kPluginDidNotStart);
    }
    return {};
}

void Translator::SetState(State state, const Started& started, const std::string& message) {
    {
        std::lock_guard lock(m_mutex);
        m_state = state;
    }
    started(state, message);
}

void Translator::Serve(host::HostWindow& window, host::PluginHost& plugin) {
    Caller caller(plugin);
    Clock::time_point pumped = Clock::now();
    while (std::optional<Job> job = NextJob(window)) {
        Count(*job->batch, TranslateBatch(*job->batch, job->deadline, caller));
        job->handBack();
        // Under steady load the wait never times out; the window's messages are handled as
        // often as when idle, not after every request (each look costs a wineserver call).
        if (Clock::now() - pumped >= kPumpInterval) {
            window.Pump();
            pumped = Clock::now();
        }
    }
}

std::optional<Translator::Job> Translator::NextJob(host::HostWindow& window) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_stopping) return std::nullopt;
        if (!m_queue.empty()) {
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            return job;
        }
        // Wakes now and then so that messages for the window are handled.
        if (m_wake.wait_for(lock, kPumpInterval) == std::cv_status::timeout) {
            lock.unlock();
            window.Pump();
            lock.lock();
        }
    }
}

TranslatorStats Translator::TranslateBatch(Batch& batch, Clock::time_point deadline,
                                           Caller& caller) {
    TranslatorStats tally;
    try {
        for (Batch::Piece& piece : batch.m_pieces) {
            if (Clock::now() > deadline || m_stopping) {
                ++tally.timedOut;
                continue;
            }
            const Caller::Call call = caller.Translate(piece.sjis, piece.answer);
            piece.outcome = call.outcome;
            if (call.outcome == Outcome::kTimedOut) {
                ++tally.timedOut;
                continue;
            }
            ++tally.pluginCalls;
            if (call.cacheHit) {
                ++tally.cacheHits;
                continue;
            }
            ++tally.engineLines;
            tally.engineMillis += call.millis;
            if (call.outcome == Outcome::kUntranslated) ++tally.untranslated;
        }
    } catch (const std::exception&) {
        // Out of memory for an answer: the pieces not done stay timed out, and this request
        // alone bears it.
        caller.Remark();
    }
    return tally;
}

void Translator::Count(const Batch& batch, const TranslatorStats& tally) {
    std::lock_guard lock(m_mutex);
    m_pending -= batch.PieceCount();
    m_stats.pluginCalls += tally.pluginCalls;
    m_stats.cacheHits += tally.cacheHits;
    m_stats.engineLines += tally.engineLines;
    m_stats.engineMillis += tally.engineMillis;
    m_stats.untranslated += tally.untranslated;
    m_stats.timedOut += tally.timedOut;
}

}  // namespace server

#include "worker_thread.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "engine_guard.h"
#include "filter_chain.h"
#include "mirelo_app.h"
#include "translation_cache.h"
#include "user_dictionary.h"

namespace mirelo {
namespace {

UniqueHandle DuplicateForThisProcess(HANDLE handle) {
    HANDLE copy = nullptr;
    const HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, handle, self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return UniqueHandle();
    }
    return UniqueHandle(copy);
}

// Texts the engine faulted on, by the very bytes it was given; the most recent ones only,
// since a text that once crashed the engine would crash it again. Keyed on what was sent,
// not on the host's line: a changed dictionary or option sends the line differently, and
// that text deserves its own try.
class RefusedLines {
  public:
    bool Contains(uint32_t key, std::string_view source) const {
        for (size_t i = 0; i < m_count; ++i) {
            if (m_keys[i] == key && m_lines[i] == source) return true;
        }
        return false;
    }
    // Without memory for the copy the line is simply not remembered.
    void Add(uint32_t key, std::string_view source) noexcept {
        try {
            m_lines[m_next].assign(source);
        } catch (const std::bad_alloc&) {
            return;
        }
        m_keys[m_next] = key;
        m_next = (m_next + 1) % kSize;
        if (m_count < kSize) ++m_count;
    }

  private:
    static constexpr size_t kSize = 256;
    uint32_t m_keys[kSize] = {};
    std::string m_lines[kSize];
    size_t m_next = 0;
    size_t m_count = 0;
};

// The engine's answer for one text, read under the guard: an answer without a
// terminator that runs into unreadable memory is a fault of the call.
struct EngineCall {
    PfnJ2KTranslateMMNT translate;
    const char* text;
    char* output = nullptr;
    size_t length = 0;  // kept, so that the read under the guard cannot be optimised away
};

// False when the engine faulted; then nothing it returned may be touched.
bool CallEngine(EngineCall& call) {
    auto body = [c = &call] {
        c->output = c->translate(0, c->text);
        if (c->output != nullptr) c->length = std::strlen(c->output);
    };
    return Guarded(body, nullptr);
}

void FreeEngineText(PfnJ2KFreeMem freeMem, char* text) {
    // What was read stays good whatever the engine's release does.
    auto body = [freeMem, text] { freeMem(text); };
    Guarded(body, nullptr);
}

class Worker {
  public:
    Worker(CMireloApp& app, uint32_t generation, HMODULE module)
        : m_app(app), m_generation(generation), m_module(module) {}

    // Start-up, the request loop and the exit path; nothing escapes it.
    void Run(HANDLE requestEvent, HANDLE doneEvent);

  private:
    struct Answer {
        bool given = false;  // false: the engine had no translation, leave the buffer alone
        std::string_view text;
    };

    bool Running() const { return m_app.m_runningGeneration.load() == m_generation; }
    void ServeRequest();
    Answer Compute(std::string_view source);

    CMireloApp& m_app;
    const uint32_t m_generation;
    const HMODULE m_module;
    EngineBinding m_engine{};
    bool m_engineReady = false;
    std::unique_ptr<TranslationCache> m_cache;
    std::unique_ptr<FilterChain> m_chain;
    std::vector<char> m_source;
    RefusedLines m_refused;
    std::unique_ptr<UserDictionary> m_dictionary;
};

void Worker::Run(HANDLE requestEvent, HANDLE doneEvent) {
    bool started = false;
    try {
        m_cache = std::make_unique<TranslationCache>();
        m_chain = std::make_unique<FilterChain>();
        m_source.resize(kMaxSourceBytes + 1);
        m_dictionary = std::make_unique<UserDictionary>(m_module);
        m_app.InitializeEngine();
        m_engine = m_app.m_engine;
        // A rejected library may still export the two functions a request needs, but
        // it was never initialised: it must not be called.
        m_engineReady = m_app.m_strInitError.empty() && m_engine.CanTranslate();
        started = true;
        ::SetEvent(doneEvent);

        while (Running()) {
            ::WaitForSingleObject(requestEvent, INFINITE);
            if (!Running()) break;
            ServeRequest();
            m_chain->Trim();
            m_dictionary->Trim();
            ::SetEvent(doneEvent);
        }
    } catch (...) {
        // Only allocation can fail here; OnPluginInit must still be released.
        if (!started) {
            m_app.m_strInitError = kMsgCannotStartThread;
            ::SetEvent(doneEvent);
        }
    }

    m_chain.reset();
    if (m_cache) m_cache->RemoveAll();
    m_app.ShutdownEngine(m_engine, m_app.m_lastGeneration.load() == m_generation);
    m_cache.reset();
}

void Worker::ServeRequest() {
    RequestSlot::Ticket ticket;
    if (!m_app.m_slot.Take(ticket, m_source.data(), m_source.size())) return;
    const Answer answer = ticket.sourceLength <= kMaxSourceBytes
                              ? Compute(std::string_view(m_source.data(), ticket.sourceLength))
                              : Answer{true, {}};
    m_app.m_slot.Finish(ticket, answer.given ? &answer.text : nullptr);
}

Worker::Answer Worker::Compute(std::string_view source) {
    if (source.empty()) return {true, {}};

    // Answers depend on the dictionary: a new one makes every cached answer stale.
    if (m_dictionary->Refresh()) m_cache->RemoveAll();
    // A correction of the whole line is the player's own word: it goes before the cache, the
    // engine and the filters, and needs no engine at all.
    if (std::string_view corrected; m_dictionary->AnswerLine(source, corrected))
        return {true, corrected};

    const uint32_t key = HashText(source.data());
    if (const CacheEntry* hit = m_cache->FindEntry(key, source)) return {true, hit->text()};

    // A failed start-up leaves no engine to call: answer with the empty text.
    if (!m_engineReady) return {true, {}};

    // One consistent pair of options for the whole request.
    const ChainOptions options{m_app.m_bRemoveBrackets.load(std::memory_order_relaxed) != 0,
                               m_app.m_bRemoveDupSpaces.load(std::memory_order_relaxed) != 0};
    // Without memory for the whole text, nothing fit to send exists: the empty text,
    // remembered nowhere.
    const char* prepared = m_dictionary->BeforeEngine(source.data());
    if (prepared == nullptr) return {true, {}};
    EngineCall call{m_engine.pfnTranslateMMNT, m_chain->Escape(prepared, options)};
    if (!m_chain->Complete()) return {true, {}};
    // Answered like a text the engine has no translation for, without asking it again.
    const std::string_view sent(call.text);
    const uint32_t sentKey = HashText(call.text);
    if (m_refused.Contains(sentKey, sent)) return {false, {}};
    if (!CallEngine(call)) {
        m_refused.Add(sentKey, sent);
        return {false, {}};
    }
    if (call.output == nullptr) return {false, {}};
    const char* finished = m_chain->Finish(call.output, options);
    const bool whole = m_chain->Complete();
    FreeEngineText(m_engine.pfnFreeMem, call.output);
    finished = m_dictionary->AfterEngine(finished);
    if (finished == nullptr) return {true, {}};

    // A cut translation is answered but not remembered; without memory for an entry the
    // line is still answered, just not remembered either.
    const CacheEntry* entry = whole ? m_cache->AddEntry(key, source, finished) : nullptr;
    return {true, entry ? entry->text() : std::string_view(finished)};
}

}  // namespace

std::unique_ptr<WorkerStart> WorkerStart::Create(CMireloApp& app, uint32_t generation) {
    auto start = std::unique_ptr<WorkerStart>(new (std::nothrow) WorkerStart);
    if (!start) return nullptr;
    start->app = &app;
    start->generation = generation;
    start->requestEvent = DuplicateForThisProcess(app.m_hRequestEvent.get());
    start->doneEvent = DuplicateForThisProcess(app.m_hDoneEvent.get());
    HMODULE self = nullptr;
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                             reinterpret_cast<LPCWSTR>(&WorkerThreadMain), &self)) {
        start->module.reset(self);
    }
    if (!start->requestEvent || !start->doneEvent || !start->module) return nullptr;
    return start;
}

unsigned __stdcall WorkerThreadMain(void* arg) {
    std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(arg));
    HMODULE module = start->module.release();
    {
        Worker worker(*start->app, start->generation, module);
        worker.Run(start->requestEvent.get(), start->doneEvent.get());
    }
    start.reset();
    // Our own reference keeps the code mapped until this very call returns nowhere.
    ::FreeLibraryAndExitThread(module, 0);
}

}  // namespace mirelo

#include "worker.h"

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
        for (size_t i = 0; i < count_; ++i) {
            if (keys_[i] == key && lines_[i] == source) return true;
        }
        return false;
    }
    // Without memory for the copy the line is simply not remembered.
    void Add(uint32_t key, std::string_view source) noexcept {
        try {
            lines_[next_].assign(source);
        } catch (const std::bad_alloc&) {
            return;
        }
        keys_[next_] = key;
        next_ = (next_ + 1) % kSize;
        if (count_ < kSize) ++count_;
    }

  private:
    static constexpr size_t kSize = 256;
    uint32_t keys_[kSize] = {};
    std::string lines_[kSize];
    size_t next_ = 0;
    size_t count_ = 0;
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
        : app_(app), generation_(generation), module_(module) {}

    // Start-up, the request loop and the exit path; nothing escapes it.
    void Run(HANDLE requestEvent, HANDLE doneEvent);

  private:
    struct Answer {
        bool given = false;  // false: the engine had no translation, leave the buffer alone
        std::string_view text;
    };

    bool Running() const { return app_.m_runningGeneration.load() == generation_; }
    void ServeRequest();
    Answer Compute(std::string_view source);

    CMireloApp& app_;
    const uint32_t generation_;
    const HMODULE module_;
    EngineBinding engine_{};
    bool engineReady_ = false;
    std::unique_ptr<TranslationCache> cache_;
    std::unique_ptr<FilterChain> chain_;
    std::vector<char> source_;
    RefusedLines refused_;
    std::unique_ptr<UserDictionary> dictionary_;
};

void Worker::Run(HANDLE requestEvent, HANDLE doneEvent) {
    bool started = false;
    try {
        cache_ = std::make_unique<TranslationCache>();
        chain_ = std::make_unique<FilterChain>();
        source_.resize(kMaxSourceBytes + 1);
        dictionary_ = std::make_unique<UserDictionary>(module_);
        app_.InitializeEngine();
        engine_ = app_.m_engine;
        // A rejected library may still export the two functions a request needs, but
        // it was never initialised: it must not be called.
        engineReady_ = app_.m_strInitError.empty() && engine_.CanTranslate();
        started = true;
        ::SetEvent(doneEvent);

        while (Running()) {
            ::WaitForSingleObject(requestEvent, INFINITE);
            if (!Running()) break;
            ServeRequest();
            chain_->Trim();
            dictionary_->Trim();
            ::SetEvent(doneEvent);
        }
    } catch (...) {
        // Only allocation can fail here; OnPluginInit must still be released.
        if (!started) {
            app_.m_strInitError = kMsgCannotStartThread;
            ::SetEvent(doneEvent);
        }
    }

    chain_.reset();
    if (cache_) cache_->RemoveAll();
    app_.ShutdownEngine(engine_, app_.m_lastGeneration.load() == generation_);
    cache_.reset();
}

void Worker::ServeRequest() {
    RequestSlot::Ticket ticket;
    if (!app_.m_slot.Take(ticket, source_.data(), source_.size())) return;
    const Answer answer = ticket.sourceLength <= kMaxSourceBytes
                              ? Compute(std::string_view(source_.data(), ticket.sourceLength))
                              : Answer{true, {}};
    app_.m_slot.Finish(ticket, answer.given ? &answer.text : nullptr);
}

Worker::Answer Worker::Compute(std::string_view source) {
    if (source.empty()) return {true, {}};

    // Answers depend on the dictionary: a new one makes every cached answer stale.
    if (dictionary_->Refresh()) cache_->RemoveAll();

    const uint32_t key = HashText(source.data());
    if (const CacheEntry* hit = cache_->FindEntry(key, source)) return {true, hit->text()};

    // A failed start-up leaves no engine to call: answer with the empty text.
    if (!engineReady_) return {true, {}};

    // One consistent pair of options for the whole request.
    const ChainOptions options{app_.m_bRemoveBrackets.load(std::memory_order_relaxed) != 0,
                               app_.m_bRemoveDupSpaces.load(std::memory_order_relaxed) != 0};
    // Without memory for the whole text, nothing fit to send exists: the empty text,
    // remembered nowhere.
    const char* prepared = dictionary_->BeforeEngine(source.data());
    if (prepared == nullptr) return {true, {}};
    EngineCall call{engine_.pfnTranslateMMNT, chain_->Escape(prepared, options)};
    if (!chain_->Complete()) return {true, {}};
    // Answered like a text the engine has no translation for, without asking it again.
    const std::string_view sent(call.text);
    const uint32_t sentKey = HashText(call.text);
    if (refused_.Contains(sentKey, sent)) return {false, {}};
    if (!CallEngine(call)) {
        refused_.Add(sentKey, sent);
        return {false, {}};
    }
    if (call.output == nullptr) return {false, {}};
    const char* finished = chain_->Finish(call.output, options);
    const bool whole = chain_->Complete();
    FreeEngineText(engine_.pfnFreeMem, call.output);
    finished = dictionary_->AfterEngine(finished);
    if (finished == nullptr) return {true, {}};

    // A cut translation is answered but not remembered; without memory for an entry the
    // line is still answered, just not remembered either.
    const CacheEntry* entry = whole ? cache_->AddEntry(key, source, finished) : nullptr;
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
                             reinterpret_cast<LPCWSTR>(&TranslationWorker), &self)) {
        start->module.reset(self);
    }
    if (!start->requestEvent || !start->doneEvent || !start->module) return nullptr;
    return start;
}

unsigned __stdcall TranslationWorker(void* arg) {
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

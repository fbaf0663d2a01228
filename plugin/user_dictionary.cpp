#include "user_dictionary.h"

#include <process.h>

#include <new>
#include <utility>

namespace mirelo {
namespace {

// What the pass buffers keep between lines; more is given back after an outsized one.
constexpr size_t kKeptBufferBytes = 64 * 1024;

}  // namespace

UserDictionary::UserDictionary(HMODULE module)
    : m_watch(dict::FolderBesideModule(module), dict::kQuietMs, dict::kLookIntervalMs,
              dict::GameFromEnvironment()) {
    if (m_watch.folder().empty()) return;
    // Nothing is in use yet, so the first read is taken even if a save was under way: the
    // watch then sees the folder move and reads it again once it has settled.
    dict::FolderDictionary loaded = m_watch.Load({.keepOrigins = false});
    m_dictionary = std::move(loaded.dictionary);
    m_builder.reset(reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, &UserDictionary::BuilderMain, this, 0, nullptr)));
    // The worker's answers come first.
    if (m_builder) ::SetThreadPriority(m_builder.get(), THREAD_PRIORITY_BELOW_NORMAL);
}

UserDictionary::~UserDictionary() {
    if (!m_builder) return;
    {
        ExclusiveLock::Guard guard(m_lock);
        m_stopping = true;
    }
    m_stop.store(true);
    ::WakeConditionVariable(&m_wake);
    ::WaitForSingleObject(m_builder.get(), INFINITE);
}

unsigned __stdcall UserDictionary::BuilderMain(void* self) {
    static_cast<UserDictionary*>(self)->BuildUntilStopped();
    return 0;
}

void UserDictionary::BuildUntilStopped() noexcept {
    uint64_t nextLook = ::GetTickCount64() + m_watch.WaitMs(::GetTickCount64());
    for (;;) {
        std::unique_ptr<dict::Dictionary> retired;
        uint64_t now;
        {
            ExclusiveLock::Guard guard(m_lock);
            for (now = ::GetTickCount64(); !m_stopping && !m_retired && now < nextLook;
                 now = ::GetTickCount64()) {
                ::SleepConditionVariableSRW(&m_wake, &m_lock, static_cast<DWORD>(nextLook - now),
                                            0);
            }
            if (m_stopping) return;
            retired = std::move(m_retired);
        }
        // A big dictionary is many pages to give back: here, not on the worker's time.
        retired.reset();
        if (now < nextLook) continue;

        std::unique_ptr<dict::Dictionary> loaded;
        if (LookAndLoad(now, loaded)) {
            // One finished before that the worker never took goes, outside the lock.
            std::unique_ptr<dict::Dictionary> untaken;
            {
                ExclusiveLock::Guard guard(m_lock);
                untaken = std::exchange(m_next, std::move(loaded));
                m_ready.store(true, std::memory_order_release);
            }
        }
        const uint64_t after = ::GetTickCount64();
        nextLook = after + m_watch.WaitMs(after);
    }
}

bool UserDictionary::LookAndLoad(uint64_t nowMs,
                                 std::unique_ptr<dict::Dictionary>& loaded) noexcept {
    if (!m_watch.Due(nowMs)) return false;
    dict::FolderDictionary read = m_watch.Load({.keepOrigins = false, .stop = &m_stop});
    // Moved while being read: it may hold half a save, and is read again once settled.
    if (!read.settled) return false;
    // Stopped, or out of memory: keep the one in use until the folder changes again.
    if (!read.dictionary && read.files > 0) return false;
    loaded = std::move(read.dictionary);
    return true;
}

bool UserDictionary::Refresh() noexcept {
    if (!m_builder) return RefreshHere();
    if (!m_ready.load(std::memory_order_acquire)) return false;
    const bool had = m_dictionary != nullptr;
    std::unique_ptr<dict::Dictionary> unfreed;
    {
        ExclusiveLock::Guard guard(m_lock);
        // The builder frees the old one; if it has not got round to the last one yet,
        // that one goes here.
        unfreed = std::move(m_retired);
        m_retired = std::exchange(m_dictionary, std::move(m_next));
        m_ready.store(false, std::memory_order_relaxed);
    }
    ::WakeConditionVariable(&m_wake);
    return had || m_dictionary != nullptr;
}

bool UserDictionary::RefreshHere() noexcept {
    if (m_watch.folder().empty()) return false;
    const uint64_t now = ::GetTickCount64();
    if (now < m_nextLook) return false;
    std::unique_ptr<dict::Dictionary> loaded;
    const bool got = LookAndLoad(now, loaded);
    const uint64_t after = ::GetTickCount64();
    m_nextLook = after + m_watch.WaitMs(after);
    if (!got) return false;
    const bool had = m_dictionary != nullptr;
    m_dictionary = std::move(loaded);
    return had || m_dictionary != nullptr;
}

const char* UserDictionary::Run(dict::Pass pass, dict::Kind kind, const char* text,
                                std::string& buffer) noexcept {
    if (m_dictionary->Count(kind) == 0) return text;
    try {
        // A line's worth up front, so that most lines need one run.
        if (buffer.size() < 4096) buffer.resize(4096);
        return dict::RunPass(*m_dictionary, pass, text, buffer);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool UserDictionary::AnswerLine(std::string_view source, std::string_view& answer) noexcept {
    if (!m_dictionary) return false;
    std::string_view to;
    if (!m_dictionary->FindLine(source, to)) return false;
    const std::string_view ending = dict::LineEnding(source);
    if (ending.empty()) {
        answer = to;
        return true;
    }
    try {
        m_lineAnswer.assign(to);
        m_lineAnswer += ending;
    } catch (const std::bad_alloc&) {
        // Better the correction without its line break than the engine's guess.
        answer = to;
        return true;
    }
    answer = m_lineAnswer;
    return true;
}

const char* UserDictionary::RunAll(std::initializer_list<Step> steps, const char* text) noexcept {
    for (const Step& step : steps) {
        if (text == nullptr) return nullptr;
        // Each pass writes into the buffer its input is not in.
        text = Run(step.pass, step.kind, text, text == m_passA.data() ? m_passB : m_passA);
    }
    return text;
}

const char* UserDictionary::BeforeEngine(const char* source) {
    if (!m_dictionary) return source;
    return RunAll({{&dict::Dictionary::ApplyPreRe, dict::Kind::PreRe},
                   {&dict::Dictionary::ApplyPre, dict::Kind::Pre},
                   {&dict::Dictionary::ProtectNames, dict::Kind::Name}},
                  source);
}

const char* UserDictionary::AfterEngine(const char* translation) {
    if (!m_dictionary) return translation;
    return RunAll({{&dict::Dictionary::RestoreNames, dict::Kind::Name},
                   {&dict::Dictionary::ApplyPost, dict::Kind::Post},
                   {&dict::Dictionary::ApplyPostRe, dict::Kind::PostRe}},
                  translation);
}

void UserDictionary::Trim() {
    if (m_passA.capacity() > kKeptBufferBytes) std::string().swap(m_passA);
    if (m_passB.capacity() > kKeptBufferBytes) std::string().swap(m_passB);
    if (m_lineAnswer.capacity() > kKeptBufferBytes) std::string().swap(m_lineAnswer);
}

}  // namespace mirelo

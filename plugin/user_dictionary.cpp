#include "user_dictionary.h"

#include <process.h>

#include <new>
#include <utility>

namespace mirelo {
namespace {

// What the pass buffers keep between lines; more is given back after an outsized one.
constexpr size_t kKeptBufferBytes = 64 * 1024;

}  // namespace

UserDictionary::UserDictionary(HMODULE module) : watch_(dict::FolderBesideModule(module)) {
    if (watch_.folder().empty()) return;
    // Nothing is in use yet, so the first read is taken even if a save was under way: the
    // watch then sees the folder move and reads it again once it has settled.
    dict::FolderDictionary loaded = watch_.Load({.keepOrigins = false});
    dictionary_ = std::move(loaded.dictionary);
    builder_.reset(reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, &UserDictionary::BuilderMain, this, 0, nullptr)));
    // The worker's answers come first.
    if (builder_) ::SetThreadPriority(builder_.get(), THREAD_PRIORITY_BELOW_NORMAL);
}

UserDictionary::~UserDictionary() {
    if (!builder_) return;
    {
        ExclusiveLock::Guard guard(lock_);
        stopping_ = true;
    }
    stop_.store(true);
    ::WakeConditionVariable(&wake_);
    ::WaitForSingleObject(builder_.get(), INFINITE);
}

unsigned __stdcall UserDictionary::BuilderMain(void* self) {
    static_cast<UserDictionary*>(self)->BuildUntilStopped();
    return 0;
}

void UserDictionary::BuildUntilStopped() noexcept {
    uint64_t nextLook = ::GetTickCount64() + watch_.WaitMs(::GetTickCount64());
    for (;;) {
        std::unique_ptr<dict::Dictionary> retired;
        uint64_t now;
        {
            ExclusiveLock::Guard guard(lock_);
            for (now = ::GetTickCount64(); !stopping_ && !retired_ && now < nextLook;
                 now = ::GetTickCount64()) {
                ::SleepConditionVariableSRW(&wake_, &lock_, static_cast<DWORD>(nextLook - now), 0);
            }
            if (stopping_) return;
            retired = std::move(retired_);
        }
        // A big dictionary is many pages to give back: here, not on the worker's time.
        retired.reset();
        if (now < nextLook) continue;

        std::unique_ptr<dict::Dictionary> loaded;
        if (LookAndLoad(now, loaded)) {
            // One finished before that the worker never took goes, outside the lock.
            std::unique_ptr<dict::Dictionary> untaken;
            {
                ExclusiveLock::Guard guard(lock_);
                untaken = std::exchange(next_, std::move(loaded));
                ready_.store(true, std::memory_order_release);
            }
        }
        const uint64_t after = ::GetTickCount64();
        nextLook = after + watch_.WaitMs(after);
    }
}

bool UserDictionary::LookAndLoad(uint64_t nowMs,
                                 std::unique_ptr<dict::Dictionary>& loaded) noexcept {
    if (!watch_.Due(nowMs)) return false;
    dict::FolderDictionary read = watch_.Load({.keepOrigins = false, .stop = &stop_});
    // Moved while being read: it may hold half a save, and is read again once settled.
    if (!read.settled) return false;
    // Stopped, or out of memory: keep the one in use until the folder changes again.
    if (!read.dictionary && read.files > 0) return false;
    loaded = std::move(read.dictionary);
    return true;
}

bool UserDictionary::Refresh() noexcept {
    if (!builder_) return RefreshHere();
    if (!ready_.load(std::memory_order_acquire)) return false;
    const bool had = dictionary_ != nullptr;
    std::unique_ptr<dict::Dictionary> unfreed;
    {
        ExclusiveLock::Guard guard(lock_);
        // The builder frees the old one; if it has not got round to the last one yet,
        // that one goes here.
        unfreed = std::move(retired_);
        retired_ = std::exchange(dictionary_, std::move(next_));
        ready_.store(false, std::memory_order_relaxed);
    }
    ::WakeConditionVariable(&wake_);
    return had || dictionary_ != nullptr;
}

bool UserDictionary::RefreshHere() noexcept {
    if (watch_.folder().empty()) return false;
    const uint64_t now = ::GetTickCount64();
    if (now < nextLook_) return false;
    std::unique_ptr<dict::Dictionary> loaded;
    const bool got = LookAndLoad(now, loaded);
    const uint64_t after = ::GetTickCount64();
    nextLook_ = after + watch_.WaitMs(after);
    if (!got) return false;
    const bool had = dictionary_ != nullptr;
    dictionary_ = std::move(loaded);
    return had || dictionary_ != nullptr;
}

const char* UserDictionary::Run(dict::Pass pass, dict::Kind kind, const char* text,
                                std::string& buffer) noexcept {
    if (dictionary_->Count(kind) == 0) return text;
    try {
        // A line's worth up front, so that most lines need one run.
        if (buffer.size() < 4096) buffer.resize(4096);
        return dict::RunPass(*dictionary_, pass, text, buffer);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

const char* UserDictionary::BeforeEngine(const char* source) {
    if (!dictionary_) return source;
    const char* text = Run(&dict::Dictionary::ApplyPre, dict::Kind::Pre, source, a_);
    if (text == nullptr) return nullptr;
    return Run(&dict::Dictionary::ProtectNames, dict::Kind::Name, text,
               text == a_.data() ? b_ : a_);
}

const char* UserDictionary::AfterEngine(const char* translation) {
    if (!dictionary_) return translation;
    const char* text = Run(&dict::Dictionary::RestoreNames, dict::Kind::Name, translation, a_);
    if (text == nullptr) return nullptr;
    return Run(&dict::Dictionary::ApplyPost, dict::Kind::Post, text, text == a_.data() ? b_ : a_);
}

void UserDictionary::Trim() {
    if (a_.capacity() > kKeptBufferBytes) std::string().swap(a_);
    if (b_.capacity() > kKeptBufferBytes) std::string().swap(b_);
}

}  // namespace mirelo

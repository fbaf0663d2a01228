#pragma once
// Move-only owners for the Windows handles the plug-in keeps, and a lock guard.
// Copying is deleted on purpose: a copied owner would close its handle twice.

#include <windows.h>

#include <cstdint>
#include <utility>

namespace mirelo {

template <typename Traits>
class UniqueResource {
  public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    Type get() const { return value_; }
    explicit operator bool() const { return value_ != Traits::Empty(); }

    [[nodiscard]] Type release() { return std::exchange(value_, Traits::Empty()); }

    void reset(Type value = Traits::Empty()) {
        Type old = std::exchange(value_, value);
        if (old != Traits::Empty()) Traits::Close(old);
    }

  private:
    Type value_ = Traits::Empty();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { ::CloseHandle(h); }
};

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { ::RegCloseKey(h); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { ::FreeLibrary(h); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueHKey = UniqueResource<RegistryKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;

// A slim reader/writer lock used exclusively. Unlike a critical section it needs no
// initialisation or deletion, so a call that comes before OnPluginInit or after
// OnPluginClose can still take it safely.
class ExclusiveLock {
  public:
    class [[nodiscard]] Guard {
      public:
        explicit Guard(SRWLOCK& lock) : lock_(&lock) { ::AcquireSRWLockExclusive(lock_); }
        ~Guard() { ::ReleaseSRWLockExclusive(lock_); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

      private:
        SRWLOCK* lock_;
    };

    ExclusiveLock() = default;
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

    Guard Lock() { return Guard(lock_); }

  private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// An exclusive lock whose waiters give up at a deadline (a GetTickCount64 value).
// Uncontended it costs two slim-lock round trips and no kernel call; like ExclusiveLock it
// needs no initialisation or deletion.
class DeadlineLock {
  public:
    class [[nodiscard]] Guard {
      public:
        explicit Guard(DeadlineLock* owner) : owner_(owner) {}
        ~Guard() {
            if (owner_) owner_->Unlock();
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        explicit operator bool() const { return owner_ != nullptr; }

      private:
        DeadlineLock* owner_;
    };

    DeadlineLock() = default;
    DeadlineLock(const DeadlineLock&) = delete;
    DeadlineLock& operator=(const DeadlineLock&) = delete;

    // An empty guard when the deadline passed before the lock came free.
    Guard LockUntil(ULONGLONG deadline) {
        ::AcquireSRWLockExclusive(&lock_);
        while (busy_) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) {
                ::ReleaseSRWLockExclusive(&lock_);
                return Guard(nullptr);
            }
            ++waiters_;
            ::SleepConditionVariableSRW(&freed_, &lock_, static_cast<DWORD>(deadline - now), 0);
            --waiters_;
        }
        busy_ = true;
        ::ReleaseSRWLockExclusive(&lock_);
        return Guard(this);
    }

  private:
    void Unlock() {
        ::AcquireSRWLockExclusive(&lock_);
        busy_ = false;
        const bool wake = waiters_ != 0;
        ::ReleaseSRWLockExclusive(&lock_);
        if (wake) ::WakeConditionVariable(&freed_);
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE freed_ = CONDITION_VARIABLE_INIT;
    bool busy_ = false;
    uint32_t waiters_ = 0;
};

}  // namespace mirelo

#pragma once
// Locks that need no initialisation or deletion, so that a call arriving before start-up or
// after shutdown can still take them safely, and guards so that no path forgets to release.

#include <windows.h>

#include <cstdint>

namespace mirelo {

// A slim reader/writer lock used exclusively.
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

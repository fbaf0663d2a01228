#pragma once
// Move-only owners for the Windows handles the plug-in keeps, and a lock guard.
// Copying is deleted on purpose: a copied owner would close its handle twice.

#include <windows.h>

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

}  // namespace mirelo

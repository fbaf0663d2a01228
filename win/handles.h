#pragma once
// Move-only owners for Windows handles, one per kind. Copying is deleted on purpose: a
// copied owner would close its handle twice.

#include <windows.h>
#include <objbase.h>

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

// How one kind of handle is closed, and which value means "none". Most kernel calls answer
// failure with null, but CreateFile and FindFirstFile with INVALID_HANDLE_VALUE, which is also
// GetCurrentProcess()'s pseudo handle: an owner must never take one for the other.
enum class EmptyIs { Null, Invalid };

template <typename T, auto CloseFn, EmptyIs kEmpty = EmptyIs::Null>
struct HandleTraits {
    using Type = T;
    static Type Empty() {
        if constexpr (kEmpty == EmptyIs::Invalid) {
            return INVALID_HANDLE_VALUE;
        } else {
            return nullptr;
        }
    }
    static void Close(Type h) { CloseFn(h); }
};

using UniqueHandle = UniqueResource<HandleTraits<HANDLE, ::CloseHandle>>;
using UniqueFile = UniqueResource<HandleTraits<HANDLE, ::CloseHandle, EmptyIs::Invalid>>;
using UniqueFind = UniqueResource<HandleTraits<HANDLE, ::FindClose, EmptyIs::Invalid>>;
using UniqueHKey = UniqueResource<HandleTraits<HKEY, ::RegCloseKey>>;
using UniqueModule = UniqueResource<HandleTraits<HMODULE, ::FreeLibrary>>;
// Memory the shell and COM hand out, such as a folder browser's item list.
template <typename T>
using UniqueCoTaskMem = UniqueResource<HandleTraits<T*, ::CoTaskMemFree>>;

}  // namespace mirelo

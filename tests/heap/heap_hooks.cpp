#include "heap_hooks.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {
size_t g_requestedBytes = 0;
size_t g_usableBytes = 0;
int g_allocationsUntilFailure = -1;  // -1: never fail

void* Allocate(std::size_t size) {
    if (g_allocationsUntilFailure == 0) return nullptr;
    if (g_allocationsUntilFailure > 0) --g_allocationsUntilFailure;
    void* p = std::malloc(size ? size : 1);
    if (p) {
        g_requestedBytes += size;
        g_usableBytes += malloc_usable_size(p);
    }
    return p;
}
void Release(void* p) noexcept {
    if (p) g_usableBytes -= malloc_usable_size(p);
    std::free(p);
}
void Release(void* p, std::size_t size) noexcept {
    g_requestedBytes -= size;
    Release(p);
}
}  // namespace

namespace mirelo::heap {
size_t RequestedBytes() {
    return g_requestedBytes;
}
size_t UsableBytes() {
    return g_usableBytes;
}
void FailAfter(int allowed) {
    g_allocationsUntilFailure = allowed;
}
int AllocationsBeforeFailure() {
    return g_allocationsUntilFailure;
}
}  // namespace mirelo::heap

void* operator new(std::size_t size) {
    if (void* p = Allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete[](void* p) noexcept {
    Release(p);
}
void operator delete(void* p, std::size_t size) noexcept {
    Release(p, size);
}
void operator delete[](void* p, std::size_t size) noexcept {
    Release(p, size);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    Release(p);
}

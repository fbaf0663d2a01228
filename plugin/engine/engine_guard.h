// Calls into the outside engine under a frame-based exception handler, so that an engine
// fault costs one call and never the host process.
#pragma once

#include <cstdint>
#include <type_traits>

namespace mirelo {

// Runs body(context) on this thread with a handler registered on the thread's own handler
// chain. Exceptions that body's callees raise and handle themselves never reach it.
// Returns true when body returned normally. When an exception nobody below handled reaches
// it, the frames below are unwound (their own unwind handlers run), the stack, callee-saved
// registers, floating-point modes and handler chain are as they were at the call, a stack
// guard page used up by an overflow is armed again, and it returns false with the exception
// code in *code (when code is not null). Costs a few nanoseconds when nothing goes wrong.
// body must own nothing that needs destroying: its frame is abandoned on a fault.
bool CallGuarded(void (*body)(void* context), void* context, uint32_t* code) noexcept;

// The same for a callable; fn must capture only plain data (pointers, integers).
template <class Fn>
bool Guarded(Fn& fn, uint32_t* code) noexcept {
    // A fault stops fn's body anywhere and destroys nothing in the frames it abandons; fn
    // itself is destroyed later by its owner in whatever state the fault left it. Only an
    // object whose destruction does nothing is safe from that.
    static_assert(std::is_trivially_destructible_v<Fn>,
                  "a guarded callable must own nothing that needs destroying");
    return CallGuarded([](void* c) { (*static_cast<Fn*>(c))(); }, &fn, code);
}

}  // namespace mirelo

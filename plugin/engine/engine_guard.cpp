// The engine guard: a frame-based exception handler registered on the thread's FS:[0] chain
// around one call, the way a 32-bit Windows compiler builds __try/__except (GCC has neither).
//
// CallGuarded pushes, on its own stack frame and from low to high addresses:
//
//   R+0   next record          } the EXCEPTION_REGISTRATION_RECORD that FS:[0] points at
//   R+4   MireloGuardHandler   }
//   R+8   x87 control word     the caller's floating-point modes, which the engine may have
//   R+12  MXCSR                changed when it faulted
//   R+16  edi, esi, ebx, ebp   the caller's callee-saved registers
//   R+32  return address
//   R+36  body, context, code  CallGuarded's arguments
//
// The handler never returns to the dispatcher for a fault it takes: it has RtlUnwind run the
// unwind handlers of every frame below R (the engine's own clean-up, innermost first), then
// puts ESP back at R, which is all it needs to find everything else, and leaves through the
// same epilogue as a normal return. Nothing is assumed about the frames below R, so any
// calling convention or frame layout in the engine is fine. After a stack overflow only a
// few KB of stack are left while the handler runs: it calls nothing but RtlUnwind, and the
// guard page is armed again only once ESP is back at R.
//
// When nothing goes wrong it adds a dozen instructions and no system call to the call.
#include "engine_guard.h"

#include <windows.h>

namespace {

// The page just above the lowest (never accessible) page of this thread's stack is the last
// guard page; a stack overflow uses it up. Arms it again, so that the next overflow raises
// STATUS_STACK_OVERFLOW too instead of running into the bottom page and ending the process,
// and keeps the TEB's stack limit on the lowest usable page as the system keeps it.
extern "C" [[gnu::used]] void MireloGuardRearmStack() {
    MEMORY_BASIC_INFORMATION stack{};
    if (!VirtualQuery(&stack, &stack, sizeof stack)) return;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const SIZE_T page = system.dwPageSize;
    char* const guard = static_cast<char*>(stack.AllocationBase) + page;

    MEMORY_BASIC_INFORMATION m{};
    if (!VirtualQuery(guard, &m, sizeof m) || m.State != MEM_COMMIT || (m.Protect & PAGE_GUARD))
        return;
    // Never arm a page this frame still stands on.
    if (reinterpret_cast<char*>(&m) < guard + 2 * page) return;
    DWORD old;
    if (!VirtualProtect(guard, page, PAGE_READWRITE | PAGE_GUARD, &old)) return;
    NT_TIB* tib;
    asm("movl %%fs:0x18, %0" : "=r"(tib));  // NtCurrentTeb(), which trips -Warray-bounds
    if (static_cast<char*>(tib->StackLimit) < guard + page) tib->StackLimit = guard + page;
}

}  // namespace

namespace mirelo {

[[gnu::naked]] bool CallGuarded(void (*)(void*), void*, uint32_t*) noexcept {
    asm volatile(
        // Save what a fault may leave broken, then register MireloGuardHandler.
        "pushl %ebp\n\t"
        "pushl %ebx\n\t"
        "pushl %esi\n\t"
        "pushl %edi\n\t"
        "subl $8, %esp\n\t"
        "fnstcw (%esp)\n\t"
        "stmxcsr 4(%esp)\n\t"
        // The dispatcher calls a handler that lies in an image only when the image lists it
        // in a SafeSEH table or has no such table. This one is accepted solely because
        // Mirelo.dll has no table (nor the NO_SEH mark); a test of the built DLL keeps it so.
        "pushl $MireloGuardHandler\n\t"
        "pushl %fs:0\n\t"
        "movl %esp, %fs:0\n\t"
        // body(context). ebx keeps R, whatever convention body has.
        "movl %esp, %ebx\n\t"
        "pushl 40(%ebx)\n\t"
        "calll *36(%ebx)\n\t"
        "movl %ebx, %esp\n\t"
        "popl %fs:0\n\t"
        "addl $12, %esp\n\t"
        "movl $1, %eax\n"
        "MireloGuardReturn:\n\t"
        "popl %edi\n\t"
        "popl %esi\n\t"
        "popl %ebx\n\t"
        "popl %ebp\n\t"
        "ret\n"

        // EXCEPTION_DISPOSITION __cdecl (EXCEPTION_RECORD* record, void* frame, CONTEXT*, void*)
        "MireloGuardHandler:\n\t"
        "movl 4(%esp), %eax\n\t"
        // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND: an unwind passing through, not ours.
        "testl $6, 4(%eax)\n\t"
        "jnz 1f\n\t"
        // RtlUnwind(frame, target, record, 0) calls the unwind handlers below R and leaves
        // FS:[0] at R; it comes back to the target, the instruction after the call (as for
        // a compiler's __except), with ESP as it was before the pushes.
        "pushl $0\n\t"
        "pushl %eax\n\t"
        "pushl $4f\n\t"
        "pushl 20(%esp)\n\t"
        "call _RtlUnwind@16\n"
        "4:\n\t"
        "movl 4(%esp), %eax\n\t"
        "movl (%eax), %edx\n\t"   // ExceptionCode, read before the record is left behind
        "movl 8(%esp), %esp\n\t"  // back to R
        "popl %fs:0\n\t"
        "addl $4, %esp\n\t"
        "cld\n\t"
        "fninit\n\t"  // empties the x87 stack the engine may have left loaded
        "fldcw (%esp)\n\t"
        "ldmxcsr 4(%esp)\n\t"
        "addl $8, %esp\n\t"
        "movl 28(%esp), %ecx\n\t"
        "testl %ecx, %ecx\n\t"
        "jz 2f\n\t"
        "movl %edx, (%ecx)\n"
        "2:\n\t"
        "cmpl $0xC00000FD, %edx\n\t"  // STATUS_STACK_OVERFLOW
        "jne 3f\n\t"
        "call _MireloGuardRearmStack\n"
        "3:\n\t"
        "xorl %eax, %eax\n\t"
        "jmp MireloGuardReturn\n"
        "1:\n\t"
        "movl $1, %eax\n\t"  // ExceptionContinueSearch
        "ret\n");
}

}  // namespace mirelo

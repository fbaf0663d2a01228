#include "faults.h"

#include <windows.h>

#include <cstdint>

#include "engine_guard.h"

namespace standin {
namespace {

// A field of a structure reached through a null pointer: the engine fault seen most.
constexpr std::uintptr_t kNullField = 0x10;

// Calls a "ret" in memory that may be read and written but not executed.
void ExecuteData() {
    static auto* const page = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!page) return;
    page[0] = 0xC3;
    reinterpret_cast<void (*)()>(page)();
}

}  // namespace

void RaiseFault(Fault fault) {
    switch (fault) {
        case Fault::Read:
            asm volatile("movl (%0), %%eax" : : "r"(kNullField) : "eax", "memory");
            break;
        case Fault::Write:
            asm volatile("movl $1, (%0)" : : "r"(kNullField) : "memory");
            break;
        case Fault::Execute:
            ExecuteData();
            break;
        case Fault::Divide:
            asm volatile("xorl %%ecx, %%ecx\n\tdivl %%ecx" : : : "eax", "ecx", "edx");
            break;
        case Fault::Illegal:
            asm volatile("ud2");
            break;
        case Fault::Privileged:
            asm volatile("hlt");
            break;
        case Fault::Overflow:
            // Unbounded recursion at its simplest: the stack pointer only goes down.
            asm volatile("1: pushl %%eax\n\tjmp 1b" : : : "memory");
            break;
        case Fault::Breakpoint:
            asm volatile("int3");
            break;
        case Fault::Cxx: {
            // What an MSVC-built engine's "throw" comes down to.
            const ULONG_PTR args[3] = {0x19930520, 0, 0};
            RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, args);
            break;
        }
        case Fault::Handled: {
            std::uint32_t code = 0;
            mirelo::CallGuarded([](void*) { RaiseFault(Fault::Read); }, nullptr, &code);
            break;
        }
        case Fault::Hang:
            for (;;) Sleep(INFINITE);
        case Fault::Exit:
            // No handler of any caller runs: the process is gone, as after a heap corruption.
            TerminateProcess(GetCurrentProcess(), kExitFaultCode);
            for (;;) Sleep(INFINITE);
    }
}

}  // namespace standin

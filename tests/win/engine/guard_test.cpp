// The engine guard: every fault an engine runs into is caught and reported, and the caller
// finds its registers, stack, handler chain and floating-point modes as they were.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "engine_guard.h"
#include "faults.h"

using mirelo::CallGuarded;
using standin::Fault;
using standin::RaiseFault;

namespace {

// What the caller of CallGuarded can see of its own state.
struct CallerState {
    std::uint32_t ebx, esi, edi, ebp, esp, fs0;
    std::uint16_t fpuControl;
};

extern "C" {
CallerState g_before, g_after;
std::uint16_t g_fpuEnvironment[14];  // after the call; [4] is the x87 tag word
std::uint32_t g_code;
bool (*g_guard)(void (*)(void*), void*, std::uint32_t*) = &CallGuarded;
}

// Calls g_guard(body, context, &g_code) with marked values in the callee-saved registers and
// records the caller's state just before and just after. Returns what the guard returned.
[[gnu::naked]] bool ProbeGuardedCall(void (*)(void*), void*) {
    asm volatile(
        "pushl %ebp\n\t"
        "pushl %ebx\n\t"
        "pushl %esi\n\t"
        "pushl %edi\n\t"
        "movl $0x1B1B1B1B, %ebx\n\t"
        "movl $0x5E5E5E5E, %esi\n\t"
        "movl $0xD1D1D1D1, %edi\n\t"
        "movl $0xB9B9B9B9, %ebp\n\t"
        "movl %ebx, _g_before\n\t"
        "movl %esi, _g_before+4\n\t"
        "movl %edi, _g_before+8\n\t"
        "movl %ebp, _g_before+12\n\t"
        "movl %esp, _g_before+16\n\t"
        "movl %fs:0, %eax\n\t"
        "movl %eax, _g_before+20\n\t"
        "fnstcw _g_before+24\n\t"
        "pushl $_g_code\n\t"
        "pushl 28(%esp)\n\t"  // context
        "pushl 28(%esp)\n\t"  // body
        "call *_g_guard\n\t"
        "addl $12, %esp\n\t"
        "movl %ebx, _g_after\n\t"
        "movl %esi, _g_after+4\n\t"
        "movl %edi, _g_after+8\n\t"
        "movl %ebp, _g_after+12\n\t"
        "movl %esp, _g_after+16\n\t"
        "movl %fs:0, %ecx\n\t"
        "movl %ecx, _g_after+20\n\t"
        "fnstcw _g_after+24\n\t"
        "fnstenv _g_fpuEnvironment\n\t"
        "fldenv _g_fpuEnvironment\n\t"
        "popl %edi\n\t"
        "popl %esi\n\t"
        "popl %ebx\n\t"
        "popl %ebp\n\t"
        "ret\n");
}

void Raise(void* fault) {
    RaiseFault(*static_cast<Fault*>(fault));
}

// An engine that leaves the x87 unit in another rounding mode with values loaded, then faults.
void ChangeFloatingPointThenFault(void*) {
    const std::uint16_t truncate = 0x0F7F;
    asm volatile("fldcw %0\n\tfld1\n\tfldz" : : "m"(truncate));
    RaiseFault(Fault::Read);
}

struct FaultCase {
    const char* name;
    void (*body)(void*);
    Fault fault;
    std::uint32_t code;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class GuardCatches : public ::testing::TestWithParam<FaultCase> {};

TEST_P(GuardCatches, ReportsTheCodeAndGivesTheCallerItsStateBack) {
    FaultCase c = GetParam();
    g_code = 0;
    EXPECT_FALSE(ProbeGuardedCall(c.body, &c.fault));
    EXPECT_EQ(c.code, g_code);
    EXPECT_EQ(g_before.ebx, g_after.ebx);
    EXPECT_EQ(g_before.esi, g_after.esi);
    EXPECT_EQ(g_before.edi, g_after.edi);
    EXPECT_EQ(g_before.ebp, g_after.ebp);
    EXPECT_EQ(g_before.esp, g_after.esp);
    EXPECT_EQ(g_before.fs0, g_after.fs0);
    EXPECT_EQ(g_before.fpuControl, g_after.fpuControl);
    EXPECT_EQ(0xFFFF, g_fpuEnvironment[4]) << "values left on the x87 stack";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, GuardCatches,
    ::testing::Values(FaultCase{"ReadViolation", Raise, Fault::Read, 0xC0000005},
                      FaultCase{"WriteViolation", Raise, Fault::Write, 0xC0000005},
                      FaultCase{"ExecuteViolation", Raise, Fault::Execute, 0xC0000005},
                      FaultCase{"DivideByZero", Raise, Fault::Divide, 0xC0000094},
                      FaultCase{"IllegalInstruction", Raise, Fault::Illegal, 0xC000001D},
                      FaultCase{"PrivilegedInstruction", Raise, Fault::Privileged, 0xC0000096},
                      FaultCase{"StackOverflow", Raise, Fault::Overflow, 0xC00000FD},
                      FaultCase{"Breakpoint", Raise, Fault::Breakpoint, 0x80000003},
                      FaultCase{"CxxException", Raise, Fault::Cxx, 0xE06D7363},
                      FaultCase{"FloatingPointModes", ChangeFloatingPointThenFault, Fault::Read,
                                0xC0000005}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Guard, BodyThatReturnsLeavesTheCodeAlone) {
    int calls = 0;
    auto body = [&calls] { ++calls; };
    std::uint32_t code = 7;
    EXPECT_TRUE(mirelo::Guarded(body, &code));
    EXPECT_EQ(1, calls);
    EXPECT_EQ(7u, code);
}

TEST(Guard, ExceptionTheBodyHandlesItselfNeverReachesIt) {
    bool finished = false;
    auto body = [&finished] {
        RaiseFault(Fault::Handled);
        finished = true;
    };
    std::uint32_t code = 7;
    EXPECT_TRUE(mirelo::Guarded(body, &code));
    EXPECT_TRUE(finished);
    EXPECT_EQ(7u, code);
}

TEST(Guard, NestedGuardsEachCatchTheirOwnFault) {
    std::uint32_t inner = 0, outer = 0;
    bool innerCaught = false;
    auto body = [&] {
        auto faulty = [] { RaiseFault(Fault::Divide); };
        innerCaught = !mirelo::Guarded(faulty, &inner);
        RaiseFault(Fault::Illegal);
    };
    EXPECT_FALSE(mirelo::Guarded(body, &outer));
    EXPECT_TRUE(innerCaught);
    EXPECT_EQ(0xC0000094u, inner);
    EXPECT_EQ(0xC000001Du, outer);
}

TEST(Guard, EveryStackOverflowIsCaughtNotOnlyTheFirst) {
    for (int round = 0; round < 3; ++round) {
        auto body = [] { RaiseFault(Fault::Overflow); };
        std::uint32_t code = 0;
        EXPECT_FALSE(mirelo::Guarded(body, &code)) << "round " << round;
        EXPECT_EQ(0xC00000FDu, code) << "round " << round;
    }
}

// The engine's own frame: counts how its handler is called, searching and unwinding.
int g_searches, g_unwinds;
EXCEPTION_DISPOSITION __cdecl CountingHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
    ++((record->ExceptionFlags & EXCEPTION_UNWINDING) ? g_unwinds : g_searches);
    return ExceptionContinueSearch;
}

void FaultUnderAFrameOfItsOwn(void*) {
    struct {
        void* next;
        void* handler;
    } frame{nullptr, reinterpret_cast<void*>(&CountingHandler)};
    asm volatile("movl %%fs:0, %0\n\tmovl %1, %%fs:0" : "=&r"(frame.next) : "r"(&frame) : "memory");
    RaiseFault(Fault::Write);
}

TEST(Guard, FramesBelowAreUnwoundBeforeItReturns) {
    g_searches = g_unwinds = 0;
    std::uint32_t code = 0;
    EXPECT_FALSE(CallGuarded(FaultUnderAFrameOfItsOwn, nullptr, &code));
    EXPECT_EQ(0xC0000005u, code);
    EXPECT_EQ(1, g_searches);
    EXPECT_EQ(1, g_unwinds);
}

}  // namespace

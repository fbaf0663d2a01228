// What the engine guard costs: a guarded call against an unguarded call to the same trivial
// stdcall function, shaped like J2K_TranslateMMNT and called through a pointer as the worker
// calls the engine, interleaved in one run; then the time from a fault to CallGuarded's return.
//
// Run under Wine: cmake/wine-run.sh build/win32/wineprefix build/win32/bin/guard_bench.exe

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine_guard.h"
#include "faults.h"
#include "win_bench.h"

namespace {

using mirelo::bench::Median;
using mirelo::bench::NowSeconds;

constexpr int kRounds = 7;
constexpr int kCallsPerRound = 5000000;

[[gnu::noinline]] char* __stdcall TrivialTranslate(int, const char* text) {
    asm volatile("" : : : "memory");
    return const_cast<char*>(text);
}

// Read through a volatile, so neither loop can see what it calls.
char*(__stdcall* volatile g_engine)(int, const char*) = TrivialTranslate;

// Nanoseconds per call.
double Unguarded(const char* text) {
    auto* const fn = g_engine;
    const double start = NowSeconds();
    for (int i = 0; i < kCallsPerRound; ++i) {
        char* r = fn(0, text);
        asm volatile("" : : "r"(r) : "memory");
    }
    return (NowSeconds() - start) * 1e9 / kCallsPerRound;
}

double Guarded(const char* text) {
    auto* const fn = g_engine;
    char* r = nullptr;
    std::uint32_t code = 0;
    auto call = [&] { r = fn(0, text); };
    const double start = NowSeconds();
    for (int i = 0; i < kCallsPerRound; ++i) {
        if (!mirelo::Guarded(call, &code)) return -1;
        asm volatile("" : : "r"(r) : "memory");
    }
    return (NowSeconds() - start) * 1e9 / kCallsPerRound;
}

// Microseconds from raising `fault` inside CallGuarded to its return, median of `count`;
// negative when one was not caught.
double FaultToReturn(standin::Fault fault, std::uint32_t expected, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        auto body = [fault] { standin::RaiseFault(fault); };
        std::uint32_t code = 0;
        const double start = NowSeconds();
        const bool returned = mirelo::Guarded(body, &code);
        times.push_back((NowSeconds() - start) * 1e6);
        if (returned || code != expected) return -1;
    }
    return Median(times);
}

}  // namespace

int main() {
    const char text[] = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";
    std::vector<double> bare, guarded;
    for (int round = 0; round < kRounds; ++round) {
        bare.push_back(Unguarded(text));
        guarded.push_back(Guarded(text));
        if (guarded.back() < 0) {
            std::fprintf(stderr, "guard_bench: a trivial call faulted\n");
            return 1;
        }
    }
    const double b = Median(bare), g = Median(guarded);
    std::printf("unguarded call            %8.2f ns (median of %d x %d)\n", b, kRounds,
                kCallsPerRound);
    std::printf("guarded call              %8.2f ns\n", g);
    std::printf("guard's cost              %8.2f ns per call\n", g - b);

    const struct {
        const char* name;
        standin::Fault fault;
        std::uint32_t code;
        int count;
    } faults[] = {
        {"access violation", standin::Fault::Read, EXCEPTION_ACCESS_VIOLATION, 2000},
        {"stack overflow", standin::Fault::Overflow, EXCEPTION_STACK_OVERFLOW, 50},
    };
    for (const auto& f : faults) {
        const double median = FaultToReturn(f.fault, f.code, f.count);
        if (median < 0) {
            std::fprintf(stderr, "guard_bench: %s was not caught\n", f.name);
            return 1;
        }
        std::printf("%-17s to return %7.1f us (median of %d)\n", f.name, median, f.count);
    }
    return 0;
}

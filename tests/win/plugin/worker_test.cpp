// The request handshake and the worker's answers: time-outs that must not let a
// late result land anywhere, a close that outlasts its wait, concurrent callers,
// and how an answer is fitted into the caller's buffer.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "iat_hook.h"
#include "plugin_fixture.h"
#include "process_probe.h"
#include "ui_watcher.h"

using namespace mirelo::test;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(SlowEngine, TimedOutRequestNeverWritesLateAndTheNextCallerGetsItsOwnAnswer) {
    // "slow" takes 4 s; "next" is answered at once.
    RunningPlugin run(
        Scripted("delay 736c6f77 4000\nmap 736c6f77 4c415445\nmap 6e657874 4e455854\n"));
    ASSERT_EQ(1, run.initResult);

    std::vector<char> canary(64, 'C');
    canary.back() = '\0';
    const auto start = Clock::now();
    EXPECT_EQ(0, run.plugin.translate("slow", canary.data(), static_cast<int>(canary.size())));
    const double waited = SecondsSince(start);
    EXPECT_GT(waited, 2.8);
    EXPECT_LT(waited, 3.8);

    // This request is queued behind the slow one; the done signal of the slow one
    // arrives while it waits and must not end its wait early.
    char next[64] = "untouched";
    EXPECT_EQ(1, run.plugin.translate("next", next, sizeof next));
    EXPECT_STREQ("NEXT", next);
    EXPECT_GT(SecondsSince(start), 3.9);

    EXPECT_EQ(std::string(63, 'C'), canary.data());
    EXPECT_EQ(1u, run.engine.LogLines("translate arg=0 in=" + Hex("slow")).size());
}

TEST(SlowEngine, RequestAbandonedBeforeTheWorkerReachesItIsNeverTranslated) {
    RunningPlugin run(Scripted("delay 736c6f77 6500\n"));
    ASSERT_EQ(1, run.initResult);
    char a[16] = "A", b[16] = "B";
    EXPECT_EQ(0, run.plugin.translate("slow", a, sizeof a));    // worker busy until 6.5 s
    EXPECT_EQ(0, run.plugin.translate("queued", b, sizeof b));  // gives up at 6 s, still queued
    char c[16] = "C";
    EXPECT_EQ(0, run.plugin.translate("last", c, sizeof c));  // refused while the worker is away
    EXPECT_STREQ("C", c);
    ::Sleep(1000);
    EXPECT_EQ(1, run.plugin.translate("last", c, sizeof c));
    EXPECT_STREQ("last", c);
    EXPECT_STREQ("A", a);
    EXPECT_STREQ("B", b);
    EXPECT_TRUE(run.engine.LogLines("translate arg=0 in=" + Hex("queued")).empty());
}

TEST(SlowEngine, CloseDuringALongEngineCallThenUnloadLeavesTheProcessAlive) {
    EngineFolder engine(Scripted("delay * 7000\n"));
    InstallKey path(engine.Root());
    HostWindow host;
    char options[16] = "";
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_EQ(1, plugin.init(host.get(), options));

    char dest[16] = "keep";
    EXPECT_EQ(0, plugin.translate("long", dest, sizeof dest));
    const auto start = Clock::now();
    EXPECT_EQ(1, plugin.close());
    const double waited = SecondsSince(start);
    EXPECT_GT(waited, 2.8);  // the worker was still inside the engine
    EXPECT_LT(waited, 3.8);
    plugin.Unload();

    // The worker holds the library until it has left it for good.
    EXPECT_NE(nullptr, ::GetModuleHandleW(L"Mirelo.dll"));
    ::Sleep(3000);
    EXPECT_EQ(nullptr, ::GetModuleHandleW(L"Mirelo.dll"));
    EXPECT_STREQ("keep", dest);
    EXPECT_EQ(1u, engine.LogLines("stop arg=0 outstanding=0").size());
    EXPECT_TRUE(engine.LogLines("violation").empty());
}

TEST(Concurrency, FourThreadsEachGetTheAnswerToTheirOwnText) {
    RunningPlugin run(Scripted());  // echo
    ASSERT_EQ(1, run.initResult);
    constexpr int kThreads = 4, kLines = 60;
    std::vector<int> wrong(kThreads, 0), failed(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                const std::string line =
                    "thread " + std::to_string(t) + " line " + std::to_string(i % 20);
                std::string result;
                if (run.plugin.TranslateText(line, result) != 1) ++failed[t];
                if (result != line) ++wrong[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(0, failed[t]) << "thread " << t;
        EXPECT_EQ(0, wrong[t]) << "thread " << t;
    }
    EXPECT_EQ(static_cast<size_t>(kThreads * 20), run.engine.LogLines("translate ").size());
}

TEST(StuckEngine, FourCallersEachReturnWithinThreeSecondsOfTheirOwnCall) {
    RunningPlugin run(Scripted("delay 737475636b 20000\n"));  // "stuck"
    ASSERT_EQ(1, run.initResult);
    std::vector<double> took(4);
    std::vector<int> answered(4, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            char dest[16] = "keep";
            const auto start = Clock::now();
            answered[t] = run.plugin.translate("stuck", dest, sizeof dest);
            took[t] = SecondsSince(start);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(0, answered[t]) << "thread " << t;
        EXPECT_LT(took[t], 3.2) << "thread " << t;
    }
}

// A hung engine call costs the host its 3 s, and the next line its 3 s (the engine might only
// have been slow); every line after that is refused at once instead of 3 s each.
TEST(StuckEngine, TwentyLinesAfterAHangTakeUnderSevenSeconds) {
    RunningPlugin run(Scripted("fault translate " + Hex("hang") + " hang\n"));
    ASSERT_EQ(1, run.initResult);
    char dest[16] = "keep";
    auto start = Clock::now();
    EXPECT_EQ(0, run.plugin.translate("hang", dest, sizeof dest));
    EXPECT_GT(SecondsSince(start), 2.8);

    std::vector<double> took;
    start = Clock::now();
    for (int i = 0; i < 20; ++i) {
        const auto call = Clock::now();
        EXPECT_EQ(0,
                  run.plugin.translate(("line " + std::to_string(i)).c_str(), dest, sizeof dest));
        took.push_back(SecondsSince(call));
    }
    EXPECT_LT(SecondsSince(start), 7.0);
    EXPECT_GT(took[0], 2.8);
    std::vector<double> refused(took.begin() + 1, took.end());
    std::sort(refused.begin(), refused.end());
    EXPECT_LT(refused[refused.size() / 2], 0.010);  // the typical refusal
    EXPECT_LT(refused.back(), 0.100);               // a busy machine's worst
    EXPECT_STREQ("keep", dest);
    EXPECT_EQ(1u, run.engine.LogLines("translate ").size());  // only the hanging line got there
}

// The engine is slow, not stuck: the line after the one given up waits while the delay runs
// out and is translated.
TEST(SlowEngine, LineAfterAFiveSecondDelayIsTranslatedOnceItEnds) {
    RunningPlugin run(
        Scripted("delay " + Hex("slow") + " 5000\nmap " + Hex("next") + " " + Hex("NEXT") + "\n"));
    ASSERT_EQ(1, run.initResult);
    const auto start = Clock::now();
    char dest[16] = "keep";
    EXPECT_EQ(0, run.plugin.translate("slow", dest, sizeof dest));
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("next", result));
    EXPECT_EQ("NEXT", result);
    EXPECT_GT(SecondsSince(start), 4.9);
    EXPECT_EQ(1, run.plugin.TranslateText("more", result));
    EXPECT_EQ("more", result);
    EXPECT_STREQ("keep", dest);
}

// Refused while the worker is away, served again as soon as it is back: no restart needed.
TEST(SlowEngine, RefusedLinesEndWhenTheEngineReturns) {
    RunningPlugin run(
        Scripted("delay " + Hex("slow") + " 7000\nmap " + Hex("back") + " " + Hex("BACK") + "\n"));
    ASSERT_EQ(1, run.initResult);
    const auto start = Clock::now();
    char dest[16] = "keep";
    EXPECT_EQ(0, run.plugin.translate("slow", dest, sizeof dest));    // gives up at 3 s
    EXPECT_EQ(0, run.plugin.translate("second", dest, sizeof dest));  // and at 6 s
    const auto refusedAt = Clock::now();
    EXPECT_EQ(0, run.plugin.translate("third", dest, sizeof dest));
    EXPECT_LT(SecondsSince(refusedAt), 0.1);
    ::Sleep(static_cast<DWORD>(std::max(0.0, 7.6 - SecondsSince(start)) * 1000));
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("back", result));
    EXPECT_EQ("BACK", result);
    EXPECT_STREQ("keep", dest);
    EXPECT_TRUE(run.engine.LogLines("translate arg=0 in=" + Hex("second")).empty());
    EXPECT_TRUE(run.engine.LogLines("translate arg=0 in=" + Hex("third")).empty());
}

// What the plug-in asked MessageBoxW for: Wine shows no top-most style on the box itself.
IatHook* g_boxHook = nullptr;
std::atomic<HWND> g_boxOwner{reinterpret_cast<HWND>(1)};
std::atomic<UINT> g_boxFlags{0};

int WINAPI RecordingBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
    g_boxOwner = owner;
    g_boxFlags = flags;
    return g_boxHook->Original<decltype(&MessageBoxW)>()(owner, text, caption, flags);
}

// The player learns once why lines go untranslated, the host waits for no one, and a close
// (then FreeLibrary) with the box still up takes the box along.
TEST(StuckEngine, PlayerIsToldOnceOnAThreadOfItsOwnAndCloseTakesTheBoxAlong) {
    RunningPlugin run(
        Scripted("delay " + Hex("slow") + " 7000\nmap " + Hex("back") + " " + Hex("BACK") + "\n"));
    ASSERT_EQ(1, run.initResult);
    auto hook = std::make_unique<IatHook>(run.plugin.module(), "user32.dll", "MessageBoxW",
                                          reinterpret_cast<const void*>(&RecordingBox));
    ASSERT_TRUE(hook->Installed());
    g_boxHook = hook.get();
    UiWatcher watcher([](const SeenWindow&) {});  // the player does not answer

    const auto start = Clock::now();
    char dest[16] = "keep";
    EXPECT_EQ(0, run.plugin.translate("slow", dest, sizeof dest));
    ::Sleep(300);
    EXPECT_TRUE(watcher.Seen().empty());  // one given-up line may be a slow engine
    const auto second = Clock::now();
    EXPECT_EQ(0, run.plugin.translate("second", dest, sizeof dest));
    EXPECT_LT(SecondsSince(second), 3.2);
    ASSERT_TRUE(watcher.WaitForCount(1, 3000));
    for (int i = 0; i < 20; ++i) {
        const auto call = Clock::now();
        EXPECT_EQ(0, run.plugin.translate("refused", dest, sizeof dest));
        EXPECT_LT(SecondsSince(call), 0.1) << i;
    }

    const SeenWindow box = watcher.Seen()[0];
    EXPECT_EQ(L"Mirelo Plugin", box.caption);
    for (const wchar_t* words :
         {L"번역 엔진이 한 줄을 번역하다가 멈췄습니다", L"Mirelo는 엔진 없이",
          L"plugin_worker_test.exe", L"다시 시작하십시오"})
        EXPECT_NE(box.text.find(words), std::wstring::npos) << words;
    EXPECT_EQ(nullptr, ::GetWindow(box.hwnd, GW_OWNER));
    EXPECT_EQ(nullptr, g_boxOwner.load());
    EXPECT_EQ(0u, g_boxFlags.load() & (MB_TOPMOST | MB_SYSTEMMODAL | MB_TASKMODAL));
    EXPECT_NE(::GetCurrentThreadId(), ::GetWindowThreadProcessId(box.hwnd, nullptr));

    // The engine comes back: the line is served, the box stays, nothing new is said.
    ::Sleep(static_cast<DWORD>(std::max(0.0, 7.6 - SecondsSince(start)) * 1000));
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("back", result));
    EXPECT_EQ("BACK", result);
    ::Sleep(200);
    EXPECT_TRUE(::IsWindow(box.hwnd));
    EXPECT_EQ(1u, watcher.Seen().size());

    const auto close = Clock::now();
    EXPECT_EQ(1, run.Close());
    EXPECT_LT(SecondsSince(close), 1.5);
    EXPECT_FALSE(::IsWindow(box.hwnd));
    hook.reset();  // while its module is still there to write back into
    run.plugin.Unload();
    EXPECT_EQ(nullptr, ::GetModuleHandleW(L"Mirelo.dll"));  // its box thread let it go
}

// The close gives up while the worker is in the engine; the next start-up must wait until
// that worker has left the engine and stopped it, and must keep its own host window.
TEST(StuckEngine, RestartAfterATimedOutCloseNeverHasTwoWorkersInTheEngine) {
    EngineFolder engine(Scripted("delay 6c6f6e67 8000\nmap 6e6577 4e4557\n"));  // "long", "new"
    InstallKey path(engine.Root());
    HostWindow host;
    char options[16] = "";
    Plugin plugin;
    ASSERT_EQ(1, plugin.init(host.get(), options));
    char dest[16] = "keep";
    EXPECT_EQ(0, plugin.translate("long", dest, sizeof dest));
    EXPECT_EQ(1, plugin.close());  // times out at about 6 s; the engine call ends at 8 s
    ASSERT_EQ(1, plugin.init(host.get(), options));

    std::vector<std::string> calls;
    for (const std::string& line : engine.Log()) calls.push_back(line.substr(0, line.find(' ')));
    const std::vector<std::string> expected = {"init", "translate", "free", "stop", "init"};
    EXPECT_EQ(expected, calls);

    std::string result;
    EXPECT_EQ(1, plugin.TranslateText("new", result));
    EXPECT_EQ("NEW", result);
    UiWatcher watcher([](const SeenWindow& w) { PressButton(w.hwnd, IDCANCEL); });
    EXPECT_EQ(1, plugin.option());
    EXPECT_EQ(1u, watcher.Seen().size());  // the dialog came up on the new host window
    EXPECT_EQ(1, plugin.close());
    EXPECT_STREQ("keep", dest);
}

TEST(Answers, NullEngineResultLeavesTheBufferAsItWasAndIsNotFreed) {
    RunningPlugin run(Scripted("null 6e6f6e65\n"));
    ASSERT_EQ(1, run.initResult);
    char dest[16] = "previous";
    EXPECT_EQ(1, run.plugin.translate("none", dest, sizeof dest));
    EXPECT_STREQ("previous", dest);
    EXPECT_EQ(1, run.plugin.translate("none", dest, sizeof dest));  // not cached: asks again
    EXPECT_EQ(2u, run.engine.LogLines("translate arg=0 in=" + Hex("none") + " out=null").size());
    EXPECT_TRUE(run.engine.LogLines("free ").empty());
}

TEST(Answers, ResultIsCutToTheDestinationSize) {
    RunningPlugin run(Scripted("map 74656e 30313233343536373839\n"));  // "ten" -> 10 digits
    ASSERT_EQ(1, run.initResult);
    struct Case {
        int size;
        const char* expected;
    } cases[] = {{11, "0123456789"}, {12, "0123456789"}, {10, "012345678"}, {5, "0123"}, {1, ""}};
    for (const Case& c : cases) {
        std::vector<char> dest(c.size + 4, 'X');
        EXPECT_EQ(1, run.plugin.translate("ten", dest.data(), c.size));
        EXPECT_STREQ(c.expected, dest.data()) << "size " << c.size;
        EXPECT_EQ(std::string(3, 'X'), std::string(dest.data() + c.size + 1, 3))
            << "size " << c.size;
        if (c.size < 11) {
            EXPECT_EQ(0, dest[c.size - 1]);
        }
    }
    // A size below 1 gets nothing written at all.
    for (int size : {0, -1, INT_MIN}) {
        char dest[4] = "abc";
        EXPECT_EQ(1, run.plugin.translate("ten", dest, size));
        EXPECT_STREQ("abc", dest);
    }
}

TEST(Answers, CutCanSplitADoubleByteCharacterLeavingItsLeadByte) {
    RunningPlugin run(Scripted("map 6b 61bec8\n"));  // 'a' then 안
    ASSERT_EQ(1, run.initResult);
    char dest[3];
    EXPECT_EQ(1, run.plugin.translate("k", dest, sizeof dest));
    EXPECT_EQ(std::string("a\xbe"), dest);
}

TEST(Answers, SourceLengthLimitIsFourKilobytes) {
    RunningPlugin run(Scripted());  // echo
    ASSERT_EQ(1, run.initResult);
    std::vector<char> dest(8192, 'X');

    const std::string full(4096, 'a');
    EXPECT_EQ(1, run.plugin.translate(full.c_str(), dest.data(), static_cast<int>(dest.size())));
    EXPECT_EQ(full, dest.data());

    const std::string over(4097, 'b');
    EXPECT_EQ(1, run.plugin.translate(over.c_str(), dest.data(), static_cast<int>(dest.size())));
    EXPECT_STREQ("", dest.data());

    std::fill(dest.begin(), dest.end(), 'X');
    EXPECT_EQ(1, run.plugin.translate("", dest.data(), static_cast<int>(dest.size())));
    EXPECT_STREQ("", dest.data());
    std::fill(dest.begin(), dest.end(), 'X');
    EXPECT_EQ(1, run.plugin.translate(nullptr, dest.data(), static_cast<int>(dest.size())));
    EXPECT_STREQ("", dest.data());

    // Only the 4096-byte line reached the engine.
    const auto calls = run.engine.LogLines("translate ");
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find("in=" + Hex(full) + " "));
}

TEST(Answers, NullDestinationStillServesTheRequestInFull) {
    RunningPlugin run(Scripted("map 6c696e65 4c494e45\n"));
    ASSERT_EQ(1, run.initResult);
    EXPECT_EQ(1, run.plugin.translate("line", nullptr, 100));
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("line", result));
    EXPECT_EQ("LINE", result);
    EXPECT_EQ(1u, run.engine.LogLines("translate ").size());
}

TEST(Answers, OversizedEngineOutputIsProcessedWholeThenCut) {
    RunningPlugin run(Scripted("oversize 626967 100000\n"));
    ASSERT_EQ(1, run.initResult);
    std::vector<char> dest(200000, 'X');
    EXPECT_EQ(1, run.plugin.translate("big", dest.data(), static_cast<int>(dest.size())));
    EXPECT_EQ(100000u, std::string(dest.data()).size());
    std::vector<char> small(64, 'X');
    EXPECT_EQ(1, run.plugin.translate("big", small.data(), static_cast<int>(small.size())));
    EXPECT_EQ(63u, std::string(small.data()).size());
    EXPECT_EQ(std::string(dest.data(), 63), small.data());
}

}  // namespace

// 20 lines of 10 MB each once made the plug-in hold 230 MB; no such answer is cached and the
// work buffers shrink back after each one.
TEST(Answers, TenMegabyteAnswersLeaveTheMemoryWhereItWas) {
    std::string rules;
    for (int n = 0; n < 21; ++n)
        rules += "oversize " + Hex("big" + std::to_string(n)) + " 10000000\n";
    RunningPlugin run(Scripted(rules));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    ASSERT_EQ(1, run.plugin.TranslateText("big0", result));
    const MemoryUse before = MeasureMemory();
    for (int n = 1; n < 21; ++n) {
        ASSERT_EQ(1, run.plugin.TranslateText("big" + std::to_string(n), result));
        EXPECT_EQ(4095u, result.size());
    }
    const MemoryUse after = MeasureMemory();
    EXPECT_LT(after.heapBusy, before.heapBusy + (1u << 20));
    EXPECT_LT(after.privateCommitted, before.privateCommitted + (4u << 20));
}

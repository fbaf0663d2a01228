// An engine that faults in any of its calls costs that call and never the host: each kind
// of fault the stand-in engine can raise, in each call the plug-in makes.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "process_probe.h"
#include "ui_watcher.h"

using namespace mirelo::test;

namespace {

// Every kind of exception an engine may leave unhandled, as the stand-in's script names it.
const char* const kKinds[] = {"read",       "write",    "execute",    "divide", "illegal",
                              "privileged", "overflow", "breakpoint", "cxx"};

// What TranslateText leaves in a destination that Translate did not write.
const std::string kUntouched(4095, '\x7f');

size_t EngineCallsFor(const RunningPlugin& run, const std::string& line) {
    return run.engine.LogLines("translate arg=0 in=" + Hex(line) + " ").size();
}

std::string KindName(const ::testing::TestParamInfo<const char*>& info) {
    return info.param;
}

class TranslateFault : public ::testing::TestWithParam<const char*> {};

// Two different faulting lines in a row, so that a second fault of the same kind (a second
// stack overflow above all) is caught as the first was.
TEST_P(TranslateFault, CostsThatLineOnlyAndTheLineNeverReachesTheEngineAgain) {
    const std::string kind = GetParam();
    RunningPlugin run(Scripted("fault translate " + Hex("bad1") + " " + kind + "\n" +
                               "fault translate " + Hex("bad2") + " " + kind + "\n" + "map " +
                               Hex("good") + " " + Hex("GOOD") + "\n"));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    for (const char* bad : {"bad1", "bad2", "bad1"}) {
        EXPECT_EQ(1, run.plugin.TranslateText(bad, result)) << bad;
        EXPECT_EQ(kUntouched, result) << bad;
        EXPECT_EQ(1, run.plugin.TranslateText("good", result)) << "after " << bad;
        EXPECT_EQ("GOOD", result) << "after " << bad;
    }
    EXPECT_EQ(1u, EngineCallsFor(run, "bad1"));
    EXPECT_EQ(1u, EngineCallsFor(run, "bad2"));
    EXPECT_EQ(1, run.Close());
}

INSTANTIATE_TEST_SUITE_P(Kinds, TranslateFault, ::testing::ValuesIn(kKinds), KindName);

TEST(AnswerFault, AnswerRunningIntoAnUnreadablePageCostsThatLineOnly) {
    RunningPlugin run(Scripted("unterminated " + Hex("edge") + "\n"));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(1, run.plugin.TranslateText("edge", result));
        EXPECT_EQ(kUntouched, result);
        EXPECT_EQ(1, run.plugin.TranslateText("next", result));
        EXPECT_EQ("next", result);
    }
    EXPECT_EQ(1u, EngineCallsFor(run, "edge"));
}

class FreeFault : public ::testing::TestWithParam<const char*> {};

TEST_P(FreeFault, TranslationIsStillAnsweredAndCached) {
    RunningPlugin run(Scripted("map " + Hex("line") + " " + Hex("LINE") + "\nfault free " +
                               Hex("line") + " " + GetParam() + "\n"));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(1, run.plugin.TranslateText("line", result));
        EXPECT_EQ("LINE", result);
    }
    EXPECT_EQ(1u, EngineCallsFor(run, "line"));  // the second came from the cache
    EXPECT_EQ(1u, run.engine.LogLines("free ptr=").size());
    EXPECT_EQ(1, run.plugin.TranslateText("next", result));
    EXPECT_EQ("next", result);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FreeFault, ::testing::ValuesIn(kKinds), KindName);

class InitFault : public ::testing::TestWithParam<const char*> {};

TEST_P(InitFault, StartUpFailsWithTheInvalidEngineMessageAndTheEngineIsLeftAlone) {
    UiWatcher watcher([](const SeenWindow& w) { PressButton(w.hwnd, IDOK); });
    RunningPlugin run(Scripted(std::string("fault init ") + GetParam() + "\n"));
    EXPECT_EQ(0, run.initResult);
    const auto seen = watcher.Seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"Mirelo Initialize Error", seen[0].caption);
    EXPECT_EQ(L"잘못된 J2KEngine.dll 파일입니다.", seen[0].text);

    char dest[16] = "canary";
    EXPECT_EQ(1, run.plugin.translate("abc", dest, sizeof dest));
    EXPECT_EQ(1, run.Close());
    const auto log = run.engine.Log();
    ASSERT_EQ(1u, log.size());  // the init itself, then nothing
    EXPECT_EQ(0u, log[0].rfind("init ", 0)) << log[0];
}

INSTANTIATE_TEST_SUITE_P(Kinds, InitFault, ::testing::ValuesIn(kKinds), KindName);

class StopFault : public ::testing::TestWithParam<const char*> {};

TEST_P(StopFault, CloseGoesOnAndTheNextSessionWorks) {
    RunningPlugin run(Scripted(std::string("fault stop ") + GetParam() + "\n"));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("first", result));
    EXPECT_EQ(1, run.Close());
    EXPECT_EQ(1u, run.engine.LogLines("stop arg=0").size());

    // A worker that had not left, or a host window still bound, would show here.
    ASSERT_EQ(1, run.plugin.init(run.host.get(), run.optionBuffer));
    run.closed = false;
    EXPECT_EQ(1, run.plugin.TranslateText("second", result));
    EXPECT_EQ("second", result);
    EXPECT_EQ(1, run.Close());
    EXPECT_EQ(2u, run.engine.LogLines("stop arg=0").size());
}

INSTANTIATE_TEST_SUITE_P(Kinds, StopFault, ::testing::ValuesIn(kKinds), KindName);

TEST(HandledException, AnExceptionTheEngineHandlesItselfChangesNothing) {
    RunningPlugin run(Scripted("fault init handled\nfault translate " + Hex("line") +
                               " handled\nmap " + Hex("line") + " " + Hex("LINE") +
                               "\nfault free " + Hex("line") + " handled\nfault stop handled\n"));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(1, run.plugin.TranslateText("line", result));
        EXPECT_EQ("LINE", result);
    }
    EXPECT_EQ(1, run.Close());
    const std::vector<std::string> calls = {"init", "translate", "free", "stop"};
    std::vector<std::string> logged;
    for (const std::string& line : run.engine.Log())
        logged.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(calls, logged);
}

TEST(ManyFaults, ThousandFaultingLinesLeaveHandlesAndMemoryWhereTheyWere) {
    RunningPlugin run(Scripted("fault translate * read\n"));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    auto faultLines = [&](int from, int to) {
        char line[16];
        for (int n = from; n < to; ++n) {
            std::snprintf(line, sizeof line, "line%05d", n);
            ASSERT_EQ(1, run.plugin.TranslateText(line, result)) << line;
        }
    };
    // Enough to fill the list of remembered lines, so it is as full now as after.
    faultLines(0, 400);
    const size_t handles = CountHandles();
    const MemoryUse memory = MeasureMemory();
    faultLines(400, 1400);
    EXPECT_EQ(handles, CountHandles());
    const MemoryUse after = MeasureMemory();
    EXPECT_LT(after.heapBusy, memory.heapBusy + 4096);
    EXPECT_LT(after.privateCommitted, memory.privateCommitted + 64 * 1024);
    EXPECT_EQ(1400u, run.engine.LogLines("translate ").size());
    EXPECT_EQ(kUntouched, result);
}

}  // namespace

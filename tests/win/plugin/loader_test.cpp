// Loading the engine: which libraries are refused, what the user is told, and
// which engine functions are called at shutdown in each case.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "plugin_fixture.h"
#include "ui_watcher.h"

using namespace mirelo::test;

namespace {

struct LoaderCase {
    const char* name;
    const wchar_t* engineFile;  // copied in as J2KEngine.dll; null: no library at all
    const wchar_t* message;
    bool stopAtShutdown;
};

void PrintTo(const LoaderCase& c, std::ostream* os) {
    *os << c.name;
}

class LoaderRejects : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(LoaderRejects, ShowsTheMessageAndKeepsTheWorkerHarmless) {
    const LoaderCase& c = GetParam();
    UiWatcher watcher([](const SeenWindow& w) { PressButton(w.hwnd, IDOK); });
    EngineFolder engine(Scripted(), c.engineFile);
    InstallKey path(engine.Root());
    HostWindow host;
    char options[16] = "";
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());

    EXPECT_EQ(0, plugin.init(host.get(), options));
    const auto seen = watcher.Seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"Mirelo Initialize Error", seen[0].caption);
    EXPECT_EQ(c.message, seen[0].text);

    // The worker lives on and answers without an engine to call.
    char dest[16] = "canary";
    EXPECT_EQ(1, plugin.translate("abc", dest, sizeof dest));
    EXPECT_STREQ("", dest);
    EXPECT_EQ(1, plugin.close());

    EXPECT_TRUE(engine.LogLines("init ").empty());
    EXPECT_TRUE(engine.LogLines("translate ").empty());
    EXPECT_TRUE(engine.LogLines("terminate").empty());
    EXPECT_EQ(c.stopAtShutdown ? 1u : 0u, engine.LogLines("stop arg=0").size());
}

INSTANTIATE_TEST_SUITE_P(
    Engines, LoaderRejects,
    ::testing::Values(LoaderCase{"NoLibrary", nullptr, L"J2KEngine.dll을 로드할 수 없습니다.",
                                 false},
                      // J2K_Terminate is never called, yet its absence rejects the library and,
                      // with pfnTerminate null, shutdown sends no stop.
                      LoaderCase{"NoTerminate", L"J2KEngine_noterminate.dll",
                                 L"잘못된 J2KEngine.dll 파일입니다.", false},
                      // Both fields the shutdown looks at are set, so the stop goes out although
                      // the engine was never initialised.
                      LoaderCase{"NoFreeMem", L"J2KEngine_nofreemem.dll",
                                 L"잘못된 J2KEngine.dll 파일입니다.", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Loader, LoadsTheLibraryAboveTheDataFolderAndPassesTheDataPath) {
    RunningPlugin run(Scripted());
    ASSERT_EQ(1, run.initResult);
    run.Close();
    const std::wstring data = run.engine.DataDir();
    const auto init = run.engine.LogLines("init ");
    ASSERT_EQ(1u, init.size());
    EXPECT_EQ("init key=MireloPlugIn path=" + Hex(std::string(data.begin(), data.end())), init[0]);
}

}  // namespace

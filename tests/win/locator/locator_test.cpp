#include <gtest/gtest.h>

#include <string>

#include "locator_fixture.h"

namespace {

using namespace mirelo::test;

// Mirelo가 설치된 경로를 찾을 수 없습니다.\r\n경로를 직접 찾으시겠습니까?
const std::wstring kQuestion =
    L"Mirelo\uAC00 \uC124\uCE58\uB41C \uACBD\uB85C\uB97C \uCC3E\uC744 \uC218 "
    L"\uC5C6\uC2B5\uB2C8\uB2E4.\r\n\uACBD\uB85C\uB97C \uC9C1\uC811 "
    L"\uCC3E\uC73C\uC2DC\uACA0\uC2B5\uB2C8\uAE4C?";
// Mirelo 가 설치된 경로를 찾을 수 없습니다.
const std::wstring kNotFound =
    L"Mirelo \uAC00 \uC124\uCE58\uB41C \uACBD\uB85C\uB97C \uCC3E\uC744 \uC218 "
    L"\uC5C6\uC2B5\uB2C8\uB2E4.";
// Mirelo 경로에 한글이 섞여 있을 경우 제대로 동작하지 않을 수 있습니다.\r\n그래도 계속
// 진행하시겠습니까?
const std::wstring kWarning =
    L"Mirelo \uACBD\uB85C\uC5D0 \uD55C\uAE00\uC774 \uC11E\uC5EC \uC788\uC744 \uACBD\uC6B0 "
    L"\uC81C\uB300\uB85C \uB3D9\uC791\uD558\uC9C0 \uC54A\uC744 \uC218 "
    L"\uC788\uC2B5\uB2C8\uB2E4.\r\n\uADF8\uB798\uB3C4 \uACC4\uC18D "
    L"\uC9C4\uD589\uD558\uC2DC\uACA0\uC2B5\uB2C8\uAE4C?";
// Mirelo를 영문 폴더에 설치하신 후 다시 시도해 주십시오.
const std::wstring kUseEnglishFolder =
    L"Mirelo\uB97C \uC601\uBB38 \uD3F4\uB354\uC5D0 \uC124\uCE58\uD558\uC2E0 \uD6C4 "
    L"\uB2E4\uC2DC \uC2DC\uB3C4\uD574 \uC8FC\uC2ED\uC2DC\uC624.";
// J2KEngine.dll을 로드할 수 없습니다.
const std::wstring kCannotLoad =
    L"J2KEngine.dll\uC744 \uB85C\uB4DC\uD560 \uC218 \uC5C6\uC2B5\uB2C8\uB2E4.";
const std::wstring kBrowseTitle = L"Mirelo \uC704\uCE58 \uC9C0\uC815";  // Mirelo 위치 지정
const std::wstring kPluginTitle = L"Mirelo Plugin";
const std::wstring kErrorTitle = L"Mirelo Initialize Error";

// Every box the locator and OnPluginInit show, with the exact flags passed.
const BoxCall kQuestionBox{nullptr, kQuestion, kPluginTitle, MB_YESNO | MB_TOPMOST};
const BoxCall kWarningBox{nullptr, kWarning, kPluginTitle, MB_YESNO};

BoxCall ErrorBox(const std::wstring& text) {
    return {nullptr, text, kErrorTitle, MB_TOPMOST};
}

void ExpectBoxes(const std::vector<BoxCall>& got, const std::vector<BoxCall>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("box " + std::to_string(i));
        EXPECT_EQ(got[i].owner, nullptr);
        EXPECT_EQ(got[i].text, want[i].text);
        EXPECT_EQ(got[i].caption, want[i].caption);
        EXPECT_EQ(got[i].flags, want[i].flags);
    }
}

struct Outcome {
    int init;
    std::vector<BoxCall> boxes;
    std::vector<BrowseCall> browses;
    std::vector<std::wstring> loads;
    std::vector<void*> freed;
    int registryReads;
    size_t windowsSeen;
};

// One start-up of the plug-in with the registry as `setup` leaves it and the
// user answering as `user` says.
template <typename Setup>
Outcome StartUp(Setup setup, const UserScript& user, bool browserGivesItemWithoutPath = false) {
    InstallKey key;
    setup(key);
    HookedPlugin plugin;
    EXPECT_TRUE(plugin.Ready());
    if (!plugin.Ready()) return {};
    {
        std::lock_guard lock(plugin.Log().mutex);
        plugin.Log().browserGivesItemWithoutPath = browserGivesItemWithoutPath;
    }
    auto watcher = AnswerWith(user);
    Outcome out{};
    out.init = plugin.Init();
    watcher->WaitForCount(plugin.Boxes().size(), 3000);
    out.windowsSeen = watcher->Seen().size();
    plugin.Close();
    CallLog& log = plugin.Log();
    std::lock_guard lock(log.mutex);
    out.boxes = log.boxes;
    out.browses = log.browses;
    out.loads = log.loads;
    out.freed = log.freed;
    out.registryReads = log.registryReads;
    return out;
}

TEST(Locator, RegistryFolderLoadsWithoutAnyBox) {
    EngineFolder engine;
    const Outcome out = StartUp([&](InstallKey& k) { k.SetPath(engine.Root()); }, {});
    EXPECT_EQ(out.init, 1);
    ExpectBoxes(out.boxes, {});
    EXPECT_EQ(out.windowsSeen, 0u);
    EXPECT_EQ(out.registryReads, 1);
    EXPECT_TRUE(out.browses.empty());
    EXPECT_EQ(out.loads, std::vector<std::wstring>{EngineFolder::LibraryPathFor(engine.Root())});
}

TEST(Locator, TrailingBackslashIsKeptAsItIs) {
    EngineFolder engine;
    const Outcome out = StartUp([&](InstallKey& k) { k.SetPath(engine.Root() + L"\\"); }, {});
    EXPECT_EQ(out.init, 1);
    ExpectBoxes(out.boxes, {});
    EXPECT_EQ(out.loads, std::vector<std::wstring>{engine.Root() + L"\\\\Dat\\..\\J2KEngine.dll"});
}

TEST(Locator, ValueWithoutTerminatorIsTakenUpToTheEndOfItsData) {
    EngineFolder engine;
    // The second fills the read buffer exactly: any read past it shows up in the path.
    const std::wstring values[] = {engine.Root(), L"C:\\" + std::wstring(257, L'b')};
    for (const std::wstring& value : values) {
        SCOPED_TRACE(value.size());
        const Outcome out = StartUp(
            [&](InstallKey& k) {
                k.SetRaw(REG_BINARY, value.data(),
                         static_cast<DWORD>(value.size() * sizeof(wchar_t)));
            },
            {});
        EXPECT_EQ(out.loads, std::vector<std::wstring>{EngineFolder::LibraryPathFor(value)});
        const bool real = value == engine.Root();
        EXPECT_EQ(out.init, real ? 1 : 0);
        ExpectBoxes(out.boxes,
                    real ? std::vector<BoxCall>{} : std::vector<BoxCall>{ErrorBox(kCannotLoad)});
    }
}

TEST(Locator, NoUsableRegistryValueAsksAndNoEndsStartUp) {
    struct Case {
        const char* name;
        void (*setup)(InstallKey&);
        int reads;  // no key, no query
    } const cases[] = {
        {"no key", [](InstallKey& k) { k.DeleteKey(); }, 0},
        {"no value",
         [](InstallKey& k) {
             k.SetPath(L"x");
             k.DeleteValue();
         },
         1},
        {"empty value", [](InstallKey& k) { k.SetPath(L""); }, 1},
        {"empty data", [](InstallKey& k) { k.SetRaw(REG_SZ, L"", 0); }, 1},
        {"260 characters, no room for the terminator",
         [](InstallKey& k) { k.SetPath(L"C:\\" + std::wstring(257, L'a')); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome out = StartUp(c.setup, {{IDNO}, IDYES, {}});
        EXPECT_EQ(out.init, 0);
        ExpectBoxes(out.boxes, {kQuestionBox, ErrorBox(kNotFound)});
        EXPECT_EQ(out.registryReads, c.reads);
        EXPECT_TRUE(out.browses.empty()) << "No must not open the browser";
        EXPECT_TRUE(out.loads.empty());
    }
}

TEST(Locator, BrowserCancelledTwiceThenNoAsksThreeTimes) {
    EngineFolder engine;  // exists, but nobody points at it
    const Outcome out =
        StartUp([](InstallKey& k) { k.SetPath(L""); }, {{IDYES, IDYES, IDNO}, IDYES, {L"", L""}});
    EXPECT_EQ(out.init, 0);
    ExpectBoxes(out.boxes, {kQuestionBox, kQuestionBox, kQuestionBox, ErrorBox(kNotFound)});
    EXPECT_EQ(out.registryReads, 3);
    ASSERT_EQ(out.browses.size(), 2u);
    for (const BrowseCall& b : out.browses) EXPECT_EQ(b.result, nullptr);
    EXPECT_TRUE(out.loads.empty());
}

TEST(Locator, FolderPickedInTheBrowserIsLoaded) {
    EngineFolder engine;
    SetEnvironmentVariableW(L"MIRELO_PICKED_FOLDER", nullptr);
    const Outcome out =
        StartUp([](InstallKey& k) { k.DeleteKey(); }, {{IDYES}, IDYES, {engine.Root()}});
    EXPECT_EQ(out.init, 1);
    ExpectBoxes(out.boxes, {kQuestionBox});
    ASSERT_EQ(out.browses.size(), 1u);
    const BrowseCall& b = out.browses[0];
    EXPECT_EQ(b.owner, nullptr);
    EXPECT_TRUE(b.rootIsDesktop);
    EXPECT_TRUE(b.displayBufferZeroed);
    EXPECT_EQ(b.title, kBrowseTitle);
    EXPECT_EQ(b.flags, static_cast<UINT>(BIF_RETURNONLYFSDIRS));
    EXPECT_FALSE(b.hasCallback);
    ASSERT_NE(b.result, nullptr);
    EXPECT_EQ(out.freed, std::vector<void*>{b.result});
    EXPECT_EQ(out.loads, std::vector<std::wstring>{EngineFolder::LibraryPathFor(engine.Root())});
    // Left for the program hosting the plug-in, to tell its user what was picked.
    wchar_t picked[MAX_PATH] = {};
    GetEnvironmentVariableW(L"MIRELO_PICKED_FOLDER", picked, MAX_PATH);
    EXPECT_EQ(std::wstring(picked), engine.Root());
}

TEST(Locator, DriveRootPickedGivesADoubledBackslash) {
    const Outcome out = StartUp([](InstallKey& k) { k.DeleteKey(); }, {{IDYES}, IDYES, {L"C:\\"}});
    EXPECT_EQ(out.init, 0);
    EXPECT_EQ(out.loads, std::vector<std::wstring>{L"C:\\\\Dat\\..\\J2KEngine.dll"});
    ExpectBoxes(out.boxes, {kQuestionBox, ErrorBox(kCannotLoad)});
}

TEST(Locator, PickedItemWithoutPathIsFreedAndAskedAgain) {
    const Outcome out =
        StartUp([](InstallKey& k) { k.DeleteKey(); }, {{IDYES, IDNO}, IDYES, {}}, true);
    EXPECT_EQ(out.init, 0);
    ExpectBoxes(out.boxes, {kQuestionBox, kQuestionBox, ErrorBox(kNotFound)});
    ASSERT_EQ(out.browses.size(), 1u);
    ASSERT_NE(out.browses[0].result, nullptr);
    EXPECT_EQ(out.freed, std::vector<void*>{out.browses[0].result});
    EXPECT_TRUE(out.loads.empty());
}

TEST(Locator, FolderWithoutEngineEndsWithTheLoaderMessage) {
    EngineFolder empty("", nullptr);
    const Outcome out = StartUp([&](InstallKey& k) { k.SetPath(empty.Root()); }, {});
    EXPECT_EQ(out.init, 0);
    ExpectBoxes(out.boxes, {ErrorBox(kCannotLoad)});
    EXPECT_TRUE(out.browses.empty()) << "a loader failure is not retried through the browser";
    EXPECT_EQ(out.loads, std::vector<std::wstring>{EngineFolder::LibraryPathFor(empty.Root())});
}

struct NonAsciiCase {
    const char* name;
    const wchar_t* suffix;
};
const NonAsciiCase kHangulNearTheEnd{"Hangul", L"\\Apps\\\uD55C\uAE00\\Engine"};  // 한글
const NonAsciiCase kAcute{"e acute", L"\\caf\u00E9"};

void ExpectWarningThenLoad(const NonAsciiCase& c) {
    SCOPED_TRACE(c.name);
    EngineFolder engine("", kEngineDll, c.suffix);
    const Outcome out = StartUp([&](InstallKey& k) { k.SetPath(engine.Root()); }, {{}, IDYES, {}});
    EXPECT_EQ(out.init, 1);
    ExpectBoxes(out.boxes, {kWarningBox});
    EXPECT_EQ(out.loads, std::vector<std::wstring>{EngineFolder::LibraryPathFor(engine.Root())});
}

TEST(Locator, HangulNearTheEndWarnsAndYesLoads) {
    ExpectWarningThenLoad(kHangulNearTheEnd);
}
TEST(Locator, AcuteAccentWarnsAndYesLoads) {
    ExpectWarningThenLoad(kAcute);
}

TEST(Locator, NonAsciiWarningAnsweredNoEndsStartUp) {
    for (const NonAsciiCase& c : {kHangulNearTheEnd, kAcute}) {
        SCOPED_TRACE(c.name);
        EngineFolder engine("", kEngineDll, c.suffix);
        const Outcome out =
            StartUp([&](InstallKey& k) { k.SetPath(engine.Root()); }, {{}, IDNO, {}});
        EXPECT_EQ(out.init, 0);
        ExpectBoxes(out.boxes, {kWarningBox, ErrorBox(kUseEnglishFolder)});
        EXPECT_TRUE(out.loads.empty());
    }
}

TEST(InstallKeyFixture, PutsTheValueBack) {
    {
        InstallKey outer;
        outer.SetPath(L"C:\\Before");
        {
            InstallKey inner;
            inner.SetRaw(REG_DWORD, "\1\0\0\0", 4);
        }
        wchar_t text[64] = {};
        DWORD size = sizeof text;
        ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Kestrow\\Mirelo", L"FilePath",
                               RRF_RT_REG_SZ, nullptr, text, &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(text, L"C:\\Before");
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "locator_fixture.h"

namespace {

using namespace mirelo::test;

constexpr int kBrackets = 2000;
constexpr int kDupSpaces = 2001;

enum class Ending { Ok, Cancel, Escape, CloseMessage, CloseBox };

struct DialogRun {
    int result = -1;
    bool shown = false;
    bool openBrackets = false, openSpaces = false;
};

// Runs OnPluginOption while a "user" reads the boxes, sets them to the wanted
// states and ends the dialog as `ending` says.
DialogRun RunOptions(HookedPlugin& plugin, bool wantBrackets, bool wantSpaces, Ending ending) {
    std::atomic<bool> shown{false}, brackets{false}, spaces{false};
    DialogRun run;
    {
        UiWatcher watcher([&](const SeenWindow& w) {
            if (w.caption != L"Mirelo Option") {
                PressButton(w.hwnd, IDCANCEL);
                return;
            }
            brackets = IsChecked(w.hwnd, kBrackets);
            spaces = IsChecked(w.hwnd, kDupSpaces);
            shown = true;
            if (brackets != wantBrackets) ClickCheckBox(w.hwnd, kBrackets);
            if (spaces != wantSpaces) ClickCheckBox(w.hwnd, kDupSpaces);
            switch (ending) {
                case Ending::Ok:
                    PressButton(w.hwnd, IDOK);
                    break;
                case Ending::Cancel:
                    PressButton(w.hwnd, IDCANCEL);
                    break;
                case Ending::Escape:
                    PressEscape(w.hwnd);
                    break;
                case Ending::CloseMessage:
                    PostMessageW(w.hwnd, WM_CLOSE, 0, 0);
                    break;
                case Ending::CloseBox:
                    PostMessageW(w.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
                    break;
            }
        });
        run.result = plugin.Option();
        // Give a dialog that wrongly appeared after the call a moment to be seen.
        Sleep(150);
    }
    run.shown = shown;
    run.openBrackets = brackets;
    run.openSpaces = spaces;
    return run;
}

class PluginOptions : public ::testing::Test {
  protected:
    void SetUp() override {
        key.SetPath(engine.Root());
        ASSERT_TRUE(plugin.Ready());
    }
    std::array<char, 16> Bytes() {
        std::array<char, 16> bytes;
        std::memcpy(bytes.data(), plugin.OptionBuffer(), bytes.size());
        return bytes;
    }

    EngineFolder engine;
    InstallKey key;
    HookedPlugin plugin;
};

TEST_F(PluginOptions, EachCombinationConfirmedWritesItsBytesAndReadsBack) {
    struct {
        bool brackets, spaces;
        std::array<char, 3> bytes;
    } const cases[] = {
        {true, false, {'\0', '0', '\0'}},
        {true, true, {'1', '1', '\0'}},
        {false, false, {'0', '0', '\0'}},
        {false, true, {'0', '1', '\0'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.brackets) + std::to_string(c.spaces));
        // Start from the opposite of what will be chosen, so both boxes move.
        const char* start = c.brackets ? (c.spaces ? "00" : "01") : (c.spaces ? "" : "11");
        ASSERT_EQ(plugin.Init(start), 1);
        const DialogRun run = RunOptions(plugin, c.brackets, c.spaces, Ending::Ok);
        EXPECT_TRUE(run.shown);
        EXPECT_EQ(run.result, 1);
        const auto bytes = Bytes();
        EXPECT_EQ(bytes[0], c.bytes[0]);
        EXPECT_EQ(bytes[1], c.bytes[1]);
        EXPECT_EQ(bytes[2], c.bytes[2]);
        for (size_t i = 3; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], '#') << "byte " << i;
        EXPECT_EQ(plugin.Close(), 1);

        // A new start reads those bytes, and the dialog opens with the same choice.
        ASSERT_EQ(plugin.Reinit(), 1);
        const DialogRun again = RunOptions(plugin, c.brackets, c.spaces, Ending::Cancel);
        EXPECT_EQ(again.openBrackets, c.brackets);
        EXPECT_EQ(again.openSpaces, c.spaces);
        EXPECT_EQ(plugin.Close(), 1);
    }
}

TEST_F(PluginOptions, OkWithoutChangesRewritesAnAcceptedForm) {
    ASSERT_EQ(plugin.Init("10"), 1);
    const DialogRun run = RunOptions(plugin, true, false, Ending::Ok);
    EXPECT_TRUE(run.openBrackets);
    EXPECT_FALSE(run.openSpaces);
    const auto bytes = Bytes();
    EXPECT_EQ(bytes[0], '\0');
    EXPECT_EQ(bytes[1], '0');
    EXPECT_EQ(bytes[2], '\0');
}

TEST_F(PluginOptions, TogglesThenAnyWayOutButOkChangeNothing) {
    for (Ending ending : {Ending::Cancel, Ending::Escape, Ending::CloseMessage, Ending::CloseBox}) {
        SCOPED_TRACE(static_cast<int>(ending));
        ASSERT_EQ(plugin.Init("01"), 1);
        const auto before = Bytes();
        const DialogRun run = RunOptions(plugin, true, false, ending);
        EXPECT_TRUE(run.shown);
        EXPECT_EQ(run.result, 1);
        EXPECT_FALSE(run.openBrackets);
        EXPECT_TRUE(run.openSpaces);
        EXPECT_EQ(Bytes(), before);
        // The flags kept their values too: the next dialog opens as the first did.
        const DialogRun next = RunOptions(plugin, false, true, Ending::Cancel);
        EXPECT_FALSE(next.openBrackets);
        EXPECT_TRUE(next.openSpaces);
        EXPECT_EQ(plugin.Close(), 1);
    }
}

TEST_F(PluginOptions, WithoutALiveHostWindowNothingIsShown) {
    EXPECT_FALSE(RunOptions(plugin, true, true, Ending::Ok).shown) << "before OnPluginInit";
    EXPECT_EQ(RunOptions(plugin, true, true, Ending::Ok).result, 1);

    ASSERT_EQ(plugin.Init("00"), 1);
    EXPECT_EQ(plugin.Close(), 1);
    const DialogRun afterClose = RunOptions(plugin, true, true, Ending::Ok);
    EXPECT_FALSE(afterClose.shown) << "after OnPluginClose";
    EXPECT_EQ(afterClose.result, 1);

    ASSERT_EQ(plugin.Reinit(), 1);
    plugin.DestroyHostWindow();
    const DialogRun afterDestroy = RunOptions(plugin, true, true, Ending::Ok);
    EXPECT_FALSE(afterDestroy.shown) << "after the host window was destroyed";
    EXPECT_EQ(afterDestroy.result, 1);
    EXPECT_EQ(plugin.OptionBuffer()[0], '0');
    EXPECT_EQ(plugin.OptionBuffer()[1], '0');
}

}  // namespace

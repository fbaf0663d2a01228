// The filter chain and the cache as the worker runs them around the engine: what
// the engine is given, what the caller gets back, and when the engine is not asked.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "ui_watcher.h"

using namespace mirelo::test;

namespace {

std::string Map(const std::string& in, const std::string& out) {
    return "map " + Hex(in) + " " + Hex(out) + "\n";
}

// x(y) （z）, in Shift-JIS.
const std::string kSource = "x(y) \x81\x69z\x81\x6a";
// What the engine is given with and without remove-brackets.
const std::string kEscapedOn = "x_&040&_y_&041&_ _&163168&_z_&163169&_";
const std::string kEscapedOff = "x(y) _&163168&_z_&163169&_";
// The engine keeps the markers, adds a note, doubled spaces and a space before a comma.
const std::string kEngineOn = "X_&040&_Y_&041&_  (note) _&163168&_Z_&163169&_ ,end";
const std::string kEngineOff = "X(Y)  (note) _&163168&_Z_&163169&_ ,end";

struct ChainCase {
    const char* options;
    const std::string* engineInput;
    std::string expected;  // CP949
};

class ChainOrder : public ::testing::TestWithParam<ChainCase> {};

TEST_P(ChainOrder, EngineSeesEscapedTextAndCallerGetsItCleanedUp) {
    const ChainCase& c = GetParam();
    RunningPlugin run(Scripted(Map(kEscapedOn, kEngineOn) + Map(kEscapedOff, kEngineOff)),
                      c.options);
    ASSERT_EQ(1, run.initResult);
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText(kSource, result));
    EXPECT_EQ(c.expected, result);
    const auto calls = run.engine.LogLines("translate ");
    ASSERT_EQ(1u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find("in=" + Hex(*c.engineInput) + " "));
}

void PrintTo(const ChainCase& c, std::ostream* os) {
    *os << '"' << c.options << '"';
}

INSTANTIATE_TEST_SUITE_P(Options, ChainOrder,
                         ::testing::Values(
                             // Brackets removed, spaces kept: the note and one space after it go.
                             ChainCase{"", &kEscapedOn, "X(Y)  \xa3\xa8Z\xa3\xa9 ,end"},
                             ChainCase{"11", &kEscapedOn, "X(Y) \xa3\xa8Z\xa3\xa9,end"},
                             ChainCase{"00", &kEscapedOff, "X(Y)  (note) \xa3\xa8Z\xa3\xa9 ,end"},
                             ChainCase{"01", &kEscapedOff, "X(Y) (note) \xa3\xa8Z\xa3\xa9,end"}),
                         [](const auto& info) {
                             const std::string o = info.param.options;
                             return "Options_" + (o.empty() ? std::string("default") : o);
                         });

TEST(TypicalRequest, MarkersTravelThroughTheEngineAndTheRepeatIsServedFromTheCache) {
    // 勇者:（笑）: an ASCII colon and a full-width parenthesis pair.
    const std::string source = "\x97\x45\x8e\xd2:\x81\x69\x8f\xce\x81\x6a";
    const std::string escaped = "\x97\x45\x8e\xd2_&058&__&163168&_\x8f\xce_&163169&_";
    // 용사:[note]（웃음）with the markers carried through.
    const std::string engineOut =
        "\xbf\xeb\xbb\xe7_&058&_ [note]_&163168&_\xbf\xf4\xc0\xbd_&163169&_";
    RunningPlugin run(Scripted(Map(escaped, engineOut)));
    ASSERT_EQ(1, run.initResult);

    std::string first, second;
    EXPECT_EQ(1, run.plugin.TranslateText(source, first));
    EXPECT_EQ("\xbf\xeb\xbb\xe7: \xa3\xa8\xbf\xf4\xc0\xbd\xa3\xa9", first);
    EXPECT_EQ(1, run.plugin.TranslateText(source, second));
    EXPECT_EQ(first, second);

    const auto log = run.engine.Log();
    std::vector<std::string> calls;
    for (const std::string& line : log) {
        if (line.rfind("translate ", 0) == 0 || line.rfind("free ", 0) == 0) calls.push_back(line);
    }
    ASSERT_EQ(2u, calls.size());  // one engine call, its output handed back once
    EXPECT_NE(std::string::npos, calls[0].find("in=" + Hex(escaped) + " "));
    EXPECT_EQ("free ptr=" + calls[0].substr(calls[0].find("out=") + 4), calls[1]);
}

TEST(SourceBrackets, SurviveWhileTheEngineNotesGo) {
    const std::string source = "a(b)[c]{d}<e>f:g";
    std::string escaped;
    for (char ch : source) {
        const std::string markers = "()[]{}<>:";
        if (markers.find(ch) != std::string::npos) {
            char marker[8];
            std::snprintf(marker, sizeof marker, "_&%03u&_", static_cast<unsigned char>(ch));
            escaped += marker;
        } else {
            escaped += ch;
        }
    }
    RunningPlugin run(Scripted(Map(escaped, escaped + " (engine note) [x] {y} <z> :")));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText(source, result));
    EXPECT_EQ(source + " ", result);
}

TEST(SourceBrackets, LongestSourceOfOpeningBracketsComesBackWhole) {
    RunningPlugin run(Scripted());  // echo: the engine hands back the 28672 bytes of markers
    ASSERT_EQ(1, run.initResult);
    const std::string source(4096, '(');
    std::vector<char> dest(8192, 'X');
    EXPECT_EQ(1, run.plugin.translate(source.c_str(), dest.data(), static_cast<int>(dest.size())));
    EXPECT_EQ(source, dest.data());
    const auto calls = run.engine.LogLines("translate ");
    ASSERT_EQ(1u, calls.size());
    std::string markers;
    for (int i = 0; i < 4096; ++i) markers += "_&040&_";
    EXPECT_NE(std::string::npos, calls[0].find("in=" + Hex(markers) + " "));
}

TEST(Cache, TranslationThatFiltersDownToNothingIsCached) {
    RunningPlugin run(Scripted(Map("note", "(only a note)")));
    ASSERT_EQ(1, run.initResult);
    for (int i = 0; i < 2; ++i) {
        char dest[16] = "previous";
        EXPECT_EQ(1, run.plugin.translate("note", dest, sizeof dest));
        EXPECT_STREQ("", dest);
    }
    EXPECT_EQ(1u, run.engine.LogLines("translate ").size());
}

TEST(Cache, OptionChangeKeepsOldAnswersAndAppliesToNewLines) {
    RunningPlugin run(Scripted(Map("old", "OLD (n)") + Map("new", "NEW (n)")));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("old", result));
    EXPECT_EQ("OLD ", result);

    // Untick remove-brackets in the dialog and confirm.
    UiWatcher watcher([](const SeenWindow& w) {
        ClickCheckBox(w.hwnd, 2000);
        PressButton(w.hwnd, IDOK);
    });
    EXPECT_EQ(1, run.plugin.option());
    ASSERT_EQ(1u, watcher.Seen().size());
    EXPECT_EQ(std::string("00"), std::string(run.optionBuffer));

    EXPECT_EQ(1, run.plugin.TranslateText("old", result));
    EXPECT_EQ("OLD ", result);  // still the answer made with brackets removed
    EXPECT_EQ(1, run.plugin.TranslateText("new", result));
    EXPECT_EQ("NEW (n)", result);
    EXPECT_EQ(2u, run.engine.LogLines("translate ").size());
}

TEST(Cache, CollidingLinesEachGetTheirOwnTranslation) {
    // "abcdb" and "qbcda" share one 32-bit hash.
    RunningPlugin run(Scripted(Map("abcdb", "first") + Map("qbcda", "second")));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(1, run.plugin.TranslateText("abcdb", result));
        EXPECT_EQ("first", result);
        EXPECT_EQ(1, run.plugin.TranslateText("qbcda", result));
        EXPECT_EQ("second", result);
    }
}

// Text that already looks like a marker comes back as it was when the byte it names would
// end or split the line; any other marker-shaped text still decodes.
TEST(MarkerShapedText, NeverEndsOrSplitsTheLine) {
    RunningPlugin run(Scripted(Map("\x97\x45\x8e\xd2_&000&_\x96\x82\x89\xa4",
                                   "\xbf\xeb\xbb\xe7_&000&_\xb8\xb6\xbf\xd5")));  // echo else
    ASSERT_EQ(1, run.initResult);
    const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"a_&000&_b", "a_&000&_b"},
        {"a_&256&_b", "a_&256&_b"},
        {"a_&010&_b", "a_&010&_b"},
        {"a_&013&_b", "a_&013&_b"},
        {"a_&000065&_b", "a_&000065&_b"},
        {"a_&065010&_b", "a_&065010&_b"},
        {"a_&065&_b", "aAb"},
        {"a_&065066&_b", "aABb"},
        // 勇者_&000&_魔王 once came back as 용사 alone.
        {"\x97\x45\x8e\xd2_&000&_\x96\x82\x89\xa4", "\xbf\xeb\xbb\xe7_&000&_\xb8\xb6\xbf\xd5"},
    };
    for (const auto& c : cases) {
        std::string result;
        EXPECT_EQ(1, run.plugin.TranslateText(c.source, result)) << c.source;
        EXPECT_EQ(Hex(c.expected), Hex(result)) << c.source;
    }
}

}  // namespace

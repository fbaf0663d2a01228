// `line` entries: a whole source line and the translation given for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../filters/filter_test_util.h"
#include "iconv_encoders.h"

namespace mirelo::dict {
namespace {

using mirelo::test::ExactText;
using mirelo::test::Hex;
using test::CompileText;
using test::Cp949;
using test::Sjis;

// The CP949 answer for `source`, or "(none)"; the source has no byte to spare.
std::string Answer(const Dictionary& d, const std::string& source) {
    const ExactText exact(source);
    std::string_view to;
    return d.FindLine(std::string_view(exact.get(), source.size()), to) ? std::string(to)
                                                                        : "(none)";
}

std::string RunOn(const Dictionary& d, Pass pass, const std::string& text) {
    std::string buffer;
    return RunPass(d, pass, text.c_str(), buffer);
}

TEST(DictionaryLine, EachLineIsAcceptedOrSkippedWithItsReason) {
    struct {
        std::string line;
        bool entry;
        const char* reason;  // part of the reason, or null when there is no problem
    } cases[] = {
        {"line\tこんにちは\t안녕하세요", true, nullptr},
        {" line \tこんにちは\t안녕하세요\ta comment", true, nullptr},
        {"line\tこんにちは\t", true, nullptr},  // an empty answer hides the line
        {"line\tこんにちは  \t안녕", true, nullptr},
        {"line\t\t안녕", false, "FROM is empty"},
        {"line\t \t \t안녕", false, "FROM is empty"},  // nothing but what is not compared
        {"line\tこんにちは", false, "found 2 columns"},
        {"Line\tこんにちは\t안녕", false, "(name, pre, post, line, pre-re or post-re)"},
        {"line\t一行目\\n二行目\t안녕", false, "FROM holds \\n"},
        {"line\t一行目\\r\t안녕", false, "FROM holds \\r"},
        {"line\t♥\t안녕", false, "FROM: U+2665 (♥) has no Shift-JIS form"},
        {"line\tこんにちは\t😀", false, "TO: U+1F600 (😀) has no CP949 form"},
    };
    for (const auto& c : cases) {
        std::vector<Problem> problems;
        const auto d = CompileText(c.line, &problems);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->Count(Kind::Line), c.entry ? 1u : 0u) << c.line;
        for (Kind kind : {Kind::Pre, Kind::Name, Kind::Post}) EXPECT_EQ(d->Count(kind), 0u);
        if (c.reason == nullptr) {
            EXPECT_TRUE(problems.empty()) << c.line << ": " << problems[0].reason;
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << c.line;
        EXPECT_NE(problems[0].reason.find(c.reason), std::string::npos)
            << c.line << ": " << problems[0].reason;
    }
}

// Line endings and trailing spaces and tabs are not compared, on either side; anything
// else is, at the start and in the middle, and a longer or shorter line is another line.
TEST(DictionaryLine, MatchesTheWholeLineOnly) {
    const auto d = CompileText(
        "line\tこんにちは\t안녕하세요\n"
        "line\t「おはよう」  \t좋은 아침\n"
        "line\t　字下げ\t들여쓰기\n"
        "line\tA B\tab\n");
    ASSERT_EQ(d->Count(Kind::Line), 4u);
    const std::string hello = Cp949("안녕하세요");
    const std::string morning = Cp949("좋은 아침");
    struct {
        std::string source, answer;
    } cases[] = {
        {Sjis("こんにちは"), hello},
        {Sjis("こんにちは") + "\r\n", hello},
        {Sjis("こんにちは") + "\n", hello},
        {Sjis("こんにちは") + "\r", hello},
        {Sjis("こんにちは") + " \t \r\n", hello},
        {Sjis("「おはよう」"), morning},
        {Sjis("「おはよう」") + "\n", morning},
        {Sjis("　字下げ"), Cp949("들여쓰기")},
        {"A B", "ab"},
        {Sjis("こんにちは、世界"), "(none)"},    // starts with the source
        {Sjis("こんにちは") + "\nA", "(none)"},  // a line break inside is part of it
        {Sjis("こんにち"), "(none)"},
        {" " + Sjis("こんにちは"), "(none)"},
        {Sjis("こんにちは　"), "(none)"},  // U+3000 is a character of the line
        {Sjis("字下げ"), "(none)"},
        {"A  B", "(none)"},
        {"a b", "(none)"},
        {"", "(none)"},
        {" \r\n", "(none)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(Answer(*d, c.source)), Hex(c.answer)) << Hex(c.source);
}

// The source is compared as the host sent it: other kinds' entries do not change it first,
// and a `line` entry changes no other pass.
TEST(DictionaryLine, OtherKindsNeitherFeedNorUseIt) {
    const auto d = CompileText(
        "pre\tこんにちは\tこんばんは\n"
        "line\tこんばんは\t저녁\n"
        "line\tミレイ\t미레이\n");
    EXPECT_EQ(Answer(*d, Sjis("こんにちは")), "(none)");
    EXPECT_EQ(Answer(*d, Sjis("こんばんは")), Cp949("저녁"));
    EXPECT_EQ(Hex(RunOn(*d, &Dictionary::ProtectNames, Sjis("ミレイ"))), Hex(Sjis("ミレイ")));
    EXPECT_EQ(Hex(RunOn(*d, &Dictionary::ApplyPre, Sjis("こんにちは"))), Hex(Sjis("こんばんは")));
}

// The last one read wins, as for the other kinds, and each one left unused is named where
// it was written, with the one used instead; a repeat after the comparison's trimming is
// still a repeat.
TEST(DictionaryLine, TheLastOneReadWinsAndTheOthersAreNamed) {
    const SourceFile files[] = {
        {"a.txt", "line\tこんにちは\t하나\nline\tさようなら\t안녕히\nline\tこんにちは\t둘\n"},
        {"b.txt", "pre\tこんにちは\tX\nline\tこんにちは \t셋\n"},
    };
    std::vector<Problem> problems;
    const auto d = Dictionary::Compile(files, test::Encoders(), &problems);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Line), 2u);
    EXPECT_EQ(d->Count(Kind::Pre), 1u);  // the same FROM in another kind is no repeat
    EXPECT_EQ(Answer(*d, Sjis("こんにちは")), Cp949("셋"));
    EXPECT_EQ(Answer(*d, Sjis("さようなら")), Cp949("안녕히"));

    ASSERT_EQ(problems.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(problems[k].kind, ProblemKind::kLineRepeated);
        EXPECT_EQ(problems[k].file, "a.txt");
        EXPECT_EQ(problems[k].line, k == 0 ? 1 : 3);
        EXPECT_EQ(problems[k].args, (std::vector<std::string>{"b.txt", "2"}));
        EXPECT_NE(problems[k].reason.find("given again at b.txt:2"), std::string::npos);
    }

    // The entry that answered, for traces: numbered after pre, name and post.
    std::vector<Firing> fired;
    std::string_view to;
    ASSERT_TRUE(d->FindLine(Sjis("こんにちは") + "\r\n", to, &fired));
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_GE(fired[0].entry, 1u);
    const EntryInfo e = d->Info(fired[0].entry);
    EXPECT_EQ(e.kind, Kind::Line);
    EXPECT_EQ(e.file, "b.txt");
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(e.to, "셋");
    EXPECT_STREQ(KindName(e.kind), "line");
}

// Many entries: every one answers its own line and no other, lines that share long
// beginnings and ends included.
TEST(DictionaryLine, ThousandsOfEntriesEachAnswerTheirOwnLine) {
    std::string file;
    for (int k = 0; k < 5000; ++k) {
        const std::string n = std::to_string(k);
        file += "line\t第" + n + "話「また明日」\t제" + n + "화\n";
    }
    std::vector<Problem> problems;
    const auto d = CompileText(file, &problems);
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(d->Count(Kind::Line), 5000u);
    for (int k = 0; k < 5000; ++k) {
        const std::string n = std::to_string(k);
        ASSERT_EQ(Answer(*d, Sjis("第" + n + "話「また明日」")), Cp949("제" + n + "화")) << k;
        ASSERT_EQ(Answer(*d, Sjis("第" + n + "話「また明日」。")), "(none)") << k;
    }
    for (const char* other : {"第5000話「また明日」", "第話「また明日」", "第-1話「また明日」"})
        EXPECT_EQ(Answer(*d, Sjis(other)), "(none)") << other;
}

TEST(DictionaryLine, TheAnswerKeepsTheSourcesLineEnding) {
    struct {
        std::string source, ending;
    } cases[] = {
        {"abc", ""},      {"abc\r\n", "\r\n"}, {"abc\n", "\n"}, {"abc \r\n", "\r\n"},
        {"abc\r\n ", ""}, {"\r\n", "\r\n"},    {"", ""},        {"a\nb\n\n", "\n\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Hex(std::string(LineEnding(c.source))), Hex(c.ending));
}

}  // namespace
}  // namespace mirelo::dict

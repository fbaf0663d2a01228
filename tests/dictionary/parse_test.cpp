// Reading dictionary files: which lines become entries, and the reason given for each line
// that is skipped.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "../filters/filter_test_util.h"
#include "iconv_encoders.h"

namespace mirelo::dict {
namespace {

using test::CompileText;
using test::IconvEncoder;

TEST(DictionaryParse, EachLineIsAcceptedOrSkippedWithItsReason) {
    std::string kana512, kana513, hangul513;
    for (int k = 0; k < 512; ++k) kana512 += "あ";
    kana513 = kana512 + "あ";
    for (int k = 0; k < 513; ++k) hangul513 += "가";
    struct {
        std::string line;
        int kind;            // -1: no entry
        const char* reason;  // part of the reason, or null when there is no problem
    } cases[] = {
        {"name\tミレイ\t미레이", 1, nullptr},
        {"pre\t何\t", 0, nullptr},  // an empty TO deletes
        {"post\t안녕\t", 2, nullptr},
        {"name\tミレイ\t미레이\ta comment\twith a tab", 1, nullptr},
        {" name \tミレイ\t미레이", 1, nullptr},  // spaces around KIND
        {"pre\t" + kana512 + "\tx", 0, nullptr},
        {"# a comment", -1, nullptr},
        {"  \t# an indented comment", -1, nullptr},
        {" \t ", -1, nullptr},
        {"name\tミレイ", -1, "found 2 columns"},
        {"name", -1, "found 1 column"},
        {"Name\tミレイ\t미레이", -1, "unknown kind \"Name\""},
        {"\tミレイ\t미레이", -1, "unknown kind \"\""},
        {"name\t\t미레이", -1, "FROM is empty"},
        {"post\t\tx", -1, "FROM is empty"},
        {"name\tミレイ\t", -1, "TO of a name is empty"},
        {"pre\t♥\tx", -1, "FROM: U+2665 (♥) has no Shift-JIS form"},
        {"pre\tx\ta♥", -1, "TO: U+2665 (♥) has no Shift-JIS form"},
        {"name\tミレイ\t😀", -1, "TO: U+1F600 (😀) has no CP949 form"},
        {"post\t😀\tx", -1, "FROM: U+1F600 (😀) has no CP949 form"},
        {"pre\t" + kana513 + "\tx", -1, "FROM is 1026 bytes in Shift-JIS"},
        {"post\tx\t" + hangul513, -1, "TO is 1026 bytes in CP949"},
        {"pre\t\xFF\tx", -1, "not valid UTF-8"},
        {"pre\t\xC0\xAF\tx", -1, "not valid UTF-8"},      // overlong '/'
        {"pre\t\xE0\x80\xAF\tx", -1, "not valid UTF-8"},  // overlong '/' in three bytes
        {"pre\t\xED\xA0\x80\tx", -1, "not valid UTF-8"},  // a surrogate
        {"pre\t\xE3\x81\tx", -1, "not valid UTF-8"},      // cut short
        {"pre\tx\ty\t# \xFF", -1, "not valid UTF-8"},     // in the comment too
        {std::string("pre\ta\0b\tc", 9), -1, "NUL"},
    };
    for (const auto& c : cases) {
        std::vector<Problem> problems;
        const auto d = CompileText(c.line, &problems);
        ASSERT_NE(d, nullptr);
        for (int kind = 0; kind < 3; ++kind)
            EXPECT_EQ(d->Count(static_cast<Kind>(kind)), kind == c.kind ? 1u : 0u) << c.line;
        if (c.reason == nullptr) {
            EXPECT_TRUE(problems.empty()) << c.line << ": " << problems[0].reason;
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << c.line;
        EXPECT_NE(problems[0].reason.find(c.reason), std::string::npos)
            << c.line << ": " << problems[0].reason;
        EXPECT_EQ(problems[0].file, "test.txt");
        EXPECT_EQ(problems[0].line, 1);
    }
}

TEST(DictionaryParse, NamesPastOneHundredThousandAreLeftOut) {
    std::string a, b;
    char line[64];
    for (int k = 0; k < 99999; ++k) {
        std::snprintf(line, sizeof line, "name\tn%06d\t가\n", k);
        a += line;
    }
    a += "name\tn000000\t나\n";  // the same FROM again takes no second number
    b = "name\tlast\t다\nname\tlater\t라\n";
    const SourceFile files[] = {{"a.txt", a}, {"b.txt", b}};
    std::vector<Problem> problems;
    const auto d = Dictionary::Compile(files, test::Encoders(), &problems);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Name), 100000u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].file, "b.txt");
    EXPECT_EQ(problems[0].line, 2);
    EXPECT_NE(problems[0].reason.find("more than 100000 names"), std::string::npos);

    char out[64];
    d->ProtectNames("later", out, sizeof out);
    EXPECT_STREQ(out, "later");
    d->ProtectNames("last n000000", out, sizeof out);
    const std::string marked = out;
    ASSERT_EQ(marked.size(), 19u) << marked;
    d->RestoreNames(marked.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), test::Cp949("다 나"));
}

// A file handed to the compiler may go at once: nothing of it is read later, not even the
// texts a trace shows. Without origins the entries work the same and tell only their kind.
TEST(DictionaryCompiler, FilesMayGoOnceAddedAndOriginsAreOptional) {
    for (bool keepOrigins : {true, false}) {
        Compiler compiler(test::Encoders(), nullptr, {.keepOrigins = keepOrigins});
        for (const char* text : {"name\tミレイ\t미레이\n", "pre\tA\tB\npost\t가\t나\n"}) {
            auto bytes = std::make_unique<std::string>(text);
            const std::string name = bytes->substr(0, 3) + ".txt";
            ASSERT_TRUE(compiler.Add({name, *bytes}));
            bytes->assign(bytes->size(), '#');
        }
        const auto d = compiler.Finish();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(compiler.Finish(), nullptr);  // once only
        char out[32];
        d->ApplyPost(test::Cp949("가").c_str(), out, sizeof out);
        EXPECT_EQ(std::string(out), test::Cp949("나"));
        const EntryInfo name = d->Info(1);
        EXPECT_EQ(name.kind, Kind::Name);
        EXPECT_EQ(name.file, keepOrigins ? "nam.txt" : "");
        EXPECT_EQ(name.line, keepOrigins ? 1 : 0);
        EXPECT_EQ(name.from, keepOrigins ? "ミレイ" : "");
        EXPECT_EQ(name.to, keepOrigins ? "미레이" : "");
        EXPECT_EQ(d->Info(2).kind, Kind::Post);
        EXPECT_EQ(d->Info(2).to, keepOrigins ? "나" : "");
        EXPECT_EQ(d->Info(3).kind, Kind::Pre);  // no such entry
        EXPECT_EQ(d->Info(3).from, "");
    }
}

// Asked to stop, a compilation gives up, whether it is reading lines or building.
TEST(DictionaryCompiler, StopsWhenAsked) {
    std::string big;
    for (int k = 0; k < 10000; ++k) big += "pre\tA" + std::to_string(k) + "\tB\n";
    const SourceFile files[] = {{"small.txt", "pre\tA\tB\n"}, {"big.txt", big}};
    std::atomic<bool> stop{true};
    for (const SourceFile& file : files) {
        EXPECT_EQ(
            Dictionary::Compile(std::span(&file, 1), test::Encoders(), nullptr, {.stop = &stop}),
            nullptr)
            << file.name;
    }
    stop = false;
    const auto d = Dictionary::Compile(files, test::Encoders(), nullptr, {.stop = &stop});
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Pre), 10001u);
}

TEST(DictionaryParse, ByteOrderMarkCrLfAndLineNumbers) {
    std::vector<Problem> problems;
    const auto d = CompileText(
        "\xEF\xBB\xBF"
        "name\tミレイ\t미레이\r\n"
        "bad line\r\n"
        "\r\n"
        "\xEF\xBB\xBFpre\tA\tB\n"  // a mark is only skipped at the start of the file
        "post\t가\t나",            // no newline at the end
        &problems);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Name), 1u);
    EXPECT_EQ(d->Count(Kind::Pre), 0u);
    EXPECT_EQ(d->Count(Kind::Post), 1u);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].line, 2);
    EXPECT_EQ(problems[1].line, 4);
    const EntryInfo name = d->Info(0);
    EXPECT_EQ(name.kind, Kind::Name);
    EXPECT_EQ(name.line, 1);
    EXPECT_EQ(name.from, "ミレイ");
    EXPECT_EQ(name.to, "미레이");  // no CR left over
}

TEST(DictionaryParse, FileOver16MiBIsSkippedWhole) {
    std::string big = "pre\tA\tB\n";
    big.resize(kMaxFileBytes + 1, '#');
    std::vector<Problem> problems;
    const SourceFile files[] = {{"big.txt", big}, {"ok.txt", "pre\tC\tD\n"}};
    const auto d = Dictionary::Compile(files, test::Encoders(), &problems);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Pre), 1u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].file, "big.txt");
    EXPECT_EQ(problems[0].line, 0);

    big.resize(kMaxFileBytes);  // exactly 16 MiB is still read
    problems.clear();
    EXPECT_EQ(test::CompileText(big, &problems)->Count(Kind::Pre), 1u);
    EXPECT_TRUE(problems.empty());
}

// Programs word the reasons in their user's language from the kind and its details.
TEST(DictionaryParse, EachReasonCarriesItsKindAndDetails) {
    std::string hangul513;
    for (int k = 0; k < 513; ++k) hangul513 += "가";
    const struct {
        std::string line;
        ProblemKind kind;
        std::vector<std::string> args;
    } cases[] = {
        {"name\tミレイ", ProblemKind::kColumns, {"2"}},
        {"Name\tミレイ\t미레이", ProblemKind::kUnknownKind, {"Name"}},
        {"name\t\t미레이", ProblemKind::kEmptyFrom, {}},
        {"name\tミレイ\t", ProblemKind::kEmptyNameTo, {}},
        {"pre\tx\ta♥", ProblemKind::kNoForm, {"TO", "U+2665 (♥)", "Shift-JIS"}},
        {"post\t😀\tx", ProblemKind::kNoForm, {"FROM", "U+1F600 (😀)", "CP949"}},
        {"post\tx\t" + hangul513, ProblemKind::kTooLong, {"TO", "1026", "CP949"}},
        {"pre\t\xFF\tx", ProblemKind::kNotUtf8, {}},
        {std::string("pre\ta\0b\tc", 9), ProblemKind::kNul, {}},
    };
    for (const auto& c : cases) {
        std::vector<Problem> problems;
        ASSERT_NE(CompileText(c.line, &problems), nullptr);
        ASSERT_EQ(problems.size(), 1u) << c.line;
        EXPECT_EQ(problems[0].kind, c.kind) << c.line;
        EXPECT_EQ(problems[0].args, c.args) << c.line;
    }
    std::vector<Problem> problems;
    std::string big(kMaxFileBytes + 1, '#');
    CompileText(big, &problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].kind, ProblemKind::kFileTooLarge);
}

std::string Utf16(std::string_view utf8, bool bigEndian, bool mark) {
    std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    IconvEncoder to(bigEndian ? "UTF-16BE" : "UTF-16LE");
    std::string units;
    EXPECT_TRUE(to(utf8, units));
    return out + units;
}

// A file saved in another encoding is one problem naming that encoding, not a reason on
// every line (or a NUL on a line the file does not have).
TEST(DictionaryParse, AFileInAnotherEncodingIsSkippedWholeWithOneReason) {
    const std::string korean = "name\tミレイ\t미레이\r\npost\t좋은 아침\t안녕\r\n# 주석\r\n";
    const std::string japanese = "pre\tゆうしゃ\t勇者\r\n# 日本語のメモ\r\npre\tまおう\t魔王\r\n";
    const struct {
        const char* what;
        std::string bytes;
        ProblemKind kind;
        const char* reason;
    } cases[] = {
        {"UTF-16 LE with mark", Utf16(korean, false, true), ProblemKind::kFileUtf16,
         "this file looks like UTF-16; save it as UTF-8"},
        {"UTF-16 LE", Utf16(korean, false, false), ProblemKind::kFileUtf16, "UTF-16"},
        {"UTF-16 BE with mark", Utf16(japanese, true, true), ProblemKind::kFileUtf16, "UTF-16"},
        {"CP949", test::Cp949(korean), ProblemKind::kFileCp949,
         "this file looks like CP949; save it as UTF-8"},
        {"Shift-JIS", test::Sjis(japanese), ProblemKind::kFileShiftJis,
         "this file looks like Shift-JIS; save it as UTF-8"},
    };
    for (const auto& c : cases) {
        std::vector<Problem> problems;
        const auto d = CompileText(c.bytes, &problems, "x.txt");
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(d->Empty()) << c.what;
        ASSERT_EQ(problems.size(), 1u) << c.what;
        EXPECT_EQ(problems[0].file, "x.txt");
        EXPECT_EQ(problems[0].line, 0) << c.what;
        EXPECT_EQ(problems[0].kind, c.kind) << c.what;
        EXPECT_NE(problems[0].reason.find(c.reason), std::string::npos) << problems[0].reason;
    }
}

TEST(DictionaryParse, AFewDamagedLinesInUtf8AreReportedOneByOne) {
    // Two lines of CP949 pasted into a UTF-8 file of three good lines.
    const std::string text = "name\tミレイ\t미레이\n" + test::Cp949("post\t좋은 아침\t안녕") +
                             "\npost\t안녕\t잘 가\n" + test::Cp949("post\t고마워\t감사") +
                             "\npre\tゆうしゃ\t勇者\n";
    std::vector<Problem> problems;
    const auto d = CompileText(text, &problems);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Name) + d->Count(Kind::Pre) + d->Count(Kind::Post), 3u);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].line, 2);
    EXPECT_EQ(problems[1].line, 4);
    EXPECT_EQ(problems[0].kind, ProblemKind::kNotUtf8);

    // A byte order mark says UTF-8 whatever follows.
    problems.clear();
    CompileText("\xEF\xBB\xBF" + test::Cp949("post\t좋은 아침\t안녕\npost\t고마워\t감사\n"),
                &problems);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[1].line, 2);
    EXPECT_EQ(problems[1].kind, ProblemKind::kNotUtf8);
}

// Some CP949 Hangul happens to be valid UTF-8 (책 is C3 A5, Latin "å"): a CP949 file whose
// lines read as UTF-8 no more often than not is not mostly UTF-8, and must not be compiled
// into entries of Latin letters. One line more that reads as UTF-8 tips it the other way.
TEST(DictionaryParse, AsManyDamagedLinesAsGoodOnesIsNotMostlyUtf8) {
    const std::string readable = test::Cp949("post\t책\t채\npost\t창\t짱\n");
    const std::string damaged = test::Cp949("post\t좋은 아침\t안녕\npost\t고마워\t감사\n");
    std::vector<Problem> problems;
    auto d = CompileText(readable + damaged, &problems);
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->Empty());
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line, 0);
    EXPECT_EQ(problems[0].kind, ProblemKind::kFileCp949);

    // Read line by line now (the Latin letters have no CP949 form, each reported on its own).
    problems.clear();
    CompileText(readable + test::Cp949("post\t찾\t짜\n") + damaged, &problems);
    std::vector<int> notUtf8;
    for (const Problem& p : problems) {
        EXPECT_NE(p.line, 0) << p.reason;
        if (p.kind == ProblemKind::kNotUtf8) notUtf8.push_back(p.line);
    }
    EXPECT_EQ(notUtf8, (std::vector<int>{4, 5}));
}

TEST(DictionaryParse, ACarriageReturnAloneEndsALineToo) {
    std::vector<Problem> problems;
    const auto d = CompileText("name\tミレイ\t미레이\rpre\tA\tB\r\rbad\r\npost\t가\t나", &problems);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Name), 1u);
    EXPECT_EQ(d->Count(Kind::Pre), 1u);
    EXPECT_EQ(d->Count(Kind::Post), 1u);
    EXPECT_EQ(d->Info(0).to, "B");  // not "B\rbad..." swallowed into one long line
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line, 4);
}

}  // namespace
}  // namespace mirelo::dict

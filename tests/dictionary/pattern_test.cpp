// `pre-re` and `post-re` entries: the guide's examples, order, characters rather than bytes,
// entries that cannot be used, and patterns that would run away on a long line.
#include <gtest/gtest.h>

#include <chrono>
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

// The pass into an exact-size source, then into every smaller buffer: each gives the same
// length and a prefix of the whole.
std::string Passed(const Dictionary& d, Pass pass, const std::string& input,
                   std::vector<Firing>* fired = nullptr) {
    const ExactText src(input);
    std::string whole;
    RunPass(d, pass, src.get(), whole, fired);
    whole.resize(std::strlen(whole.c_str()));
    for (size_t cap = 1; cap <= whole.size() && cap < 64; ++cap) {
        std::string part(cap, '\x5A');
        EXPECT_EQ((d.*pass)(src.get(), part.data(), cap, nullptr), whole.size());
        EXPECT_EQ(std::string(part.c_str()), whole.substr(0, cap - 1)) << "cap " << cap;
    }
    return whole;
}

std::string Pre(const Dictionary& d, std::string_view utf8, std::vector<Firing>* fired = nullptr) {
    return Passed(d, &Dictionary::ApplyPreRe, Sjis(utf8), fired);
}

// The examples of the user guide, each as a player would write it.
TEST(DictionaryPattern, GuideExamples) {
    struct {
        const char* entry;
        const char* input;
        const char* expected;
    } cases[] = {
        {"pre-re\t《[^》]*》\t", "勇者《ゆうしゃ》が現れた", "勇者が現れた"},
        {"pre-re\t[|｜]([^《]+)《[^》]*》\t$1", "｜魔王城《まおうじょう》へ向かう",
         "魔王城へ向かう"},
        {"pre-re\t^【([^】]+)】\t$1：", "【ミレイ】「行くよ！」", "ミレイ：「行くよ！」"},
        {"pre-re\t^【[^】]*】\t", "【ミレイ】「行くよ！」", "「行くよ！」"},
        {"pre-re\t\\\\[nN]\\[1\\]\tミレイ", "\\n[1]は笑った", "ミレイは笑った"},
        {"pre-re\t#c\\([^)]*\\)\t", "#c(赤)危険#c(白)だ", "危険だ"},
        {"pre-re\t\\{i\\}\t", "{i}本当{i}に？", "本当に？"},
        {"pre-re\t(.)\\1\t$1", "ここんんににちちはは", "こんにちは"},
        {"pre-re\t(.)\\1\t$1", "ゆゆうう者者がが", "ゆう者が"},
    };
    for (const auto& c : cases) {
        std::vector<Problem> problems;
        const auto d = CompileText(c.entry, &problems);
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(problems.empty()) << c.entry << ": " << problems[0].reason;
        ASSERT_EQ(d->Count(Kind::PreRe), 1u) << c.entry;
        EXPECT_EQ(Hex(Pre(*d, c.input)), Hex(Sjis(c.expected))) << c.entry;
    }

    const auto d = CompileText("post-re\t\\s+([.,!?])\t$1\npost-re\t^(.+?)：\t[$1] \n");
    EXPECT_EQ(d->Count(Kind::PostRe), 2u);
    EXPECT_EQ(Hex(Passed(*d, &Dictionary::ApplyPostRe, Cp949("미레이：가자 !"))),
              Hex(Cp949("[미레이] 가자!")));
    // A pre-re pass leaves a translation alone, and the other way round.
    EXPECT_EQ(Passed(*d, &Dictionary::ApplyPreRe, Sjis("ミレイ：行く !")), Sjis("ミレイ：行く !"));
}

// Entries go in file order, then line order, each once over the whole line, left to right,
// its replacements not matched again; the same pattern given again is used where read last.
TEST(DictionaryPattern, EntriesApplyInReadingOrderOnceEach) {
    const SourceFile files[] = {
        {"a.txt", "pre-re\tあ\tい\npre-re\tいい\tう\n"},
        {"b.txt", "pre-re\tう\tえ\npre-re\tおお\tお\n"},
    };
    const auto d = Dictionary::Compile(files, test::Encoders());
    ASSERT_EQ(d->Count(Kind::PreRe), 4u);
    EXPECT_EQ(Pre(*d, "ああ"), Sjis("え"));
    EXPECT_EQ(Pre(*d, "おおおお"), Sjis("おお"));
    EXPECT_EQ(Pre(*d, "いあい"), Sjis("えい"));

    const SourceFile reversed[] = {files[1], files[0]};
    const auto r = Dictionary::Compile(reversed, test::Encoders());
    EXPECT_EQ(Pre(*r, "ああ"), Sjis("う"));

    const auto again = CompileText("pre-re\tあ\tい\npre-re\tか\tき\npre-re\tあ\tう\n");
    EXPECT_EQ(again->Count(Kind::PreRe), 2u);
    EXPECT_EQ(Pre(*again, "あか"), Sjis("うき"));
    EXPECT_EQ(again->Info(again->Count(Kind::PreRe) - 1).from, "あ");

    // Numbers follow the literal entries; kinds keep their own counts.
    const auto mixed =
        CompileText("post-re\tX\tY\nname\t勇者\t용사\npre-re\ta\tb\nline\tはい\t네\npre\ta\tb\n");
    ASSERT_EQ(mixed->Count(Kind::PreRe), 1u);
    EXPECT_EQ(mixed->Info(3).kind, Kind::PreRe);
    EXPECT_EQ(mixed->Info(3).line, 3);
    EXPECT_EQ(mixed->Info(4).kind, Kind::PostRe);
    EXPECT_EQ(mixed->Info(4).to, "Y");
    EXPECT_EQ(mixed->Info(2).kind, Kind::Line);
}

// A pattern sees characters: one '.' is one Japanese or Korean character, a trail byte
// that looks like ASCII is never matched alone, and what no match covers keeps the bytes it
// came with even where the code page has two forms of one character.
TEST(DictionaryPattern, MatchesCharactersAndKeepsUntouchedBytes) {
    const auto d = CompileText(
        "pre-re\t^.\tX\n"
        "pre-re\t\\\\\t/\n"
        "pre-re\t(?i)ab\tc\n"
        "pre-re\t(?i)ａｂ\td\n"
        "pre-re\t\\d+\tN\n"
        "pre-re\t\\s+\t_\n");
    ASSERT_EQ(d->Count(Kind::PreRe), 6u);
    EXPECT_EQ(Hex(Pre(*d, "あい")), Hex("X" + Sjis("い")));
    // 表 is 0x95 0x5C: its trail byte is no backslash.
    EXPECT_EQ(Hex(Pre(*d, "x表\\")), Hex("X" + Sjis("表") + "/"));
    EXPECT_EQ(Hex(Pre(*d, "xAB ａｂ Ａｂ")), Hex("Xc_d_d"));
    EXPECT_EQ(Hex(Pre(*d, "x12１２3　4")), Hex("XN_N"));
    // Escapes that name a character by its number.
    const auto named = CompileText(
        "pre-re\t\\x{3042}2\tA\npre-re\t\\x41B\tC\npre-re\t\\x{30a4}+\tE\n"
        "pre-re\t\\d{2}x\tF\npre-re\t(\\w)\\1\\1z\tG\n");
    ASSERT_EQ(named->Count(Kind::PreRe), 5u);
    EXPECT_EQ(Pre(*named, "あ2 AB イイ 12x うううz"), "A C E F G");
    // Repeats and escapes around the text every match must hold.
    const auto runs = CompileText(
        "pre-re\tab+c\t1\npre-re\txy?z\t2\npre-re\tq{2}r\t3\npre-re\t\\.\\*\t4\n"
        "pre-re\tm\\|n\t5\npre-re\tk(?:j)?l\t6\npre-re\tde{0,2}f\t7\npre-re\tgh*i\t8\n");
    EXPECT_EQ(Pre(*runs, "abbbc xz qqr .* m|n kl kjl df deef gi ghhi"), "1 2 3 4 5 6 6 7 7 8 8");
    EXPECT_EQ(Pre(*runs, "df"), "7");
    EXPECT_EQ(Pre(*runs, "gi"), "8");
    // ∵ twice: NEC's 0x879A and JIS's 0x81E6 both decode to U+2235.
    const std::string because = "x\x87\x9A\x81\xE6 a";
    EXPECT_EQ(Hex(Passed(*d, &Dictionary::ApplyPreRe, because)), Hex("X\x87\x9A\x81\xE6_a"));

    // 〜 is written 0x8160, which reads back as ～: a pattern means what the game writes.
    const auto wave = CompileText("pre-re\t〜+\t〜\npre-re\t～\t~\n");
    EXPECT_EQ(Hex(Pre(*wave, "あ〜〜")), Hex(Sjis("あ") + "~"));

    const auto k = CompileText("post-re\t^..\t$&$&\n");
    EXPECT_EQ(Hex(Passed(*k, &Dictionary::ApplyPostRe, Cp949("가나다"))), Hex(Cp949("가나가나다")));
}

// Bytes that are no character of the code page leave the line as it came.
TEST(DictionaryPattern, UndecodableLineIsLeftAlone) {
    const auto d = CompileText("pre-re\tabc\tx\n");
    for (const std::string& line : {std::string("abc\x81\x20"), std::string("abc\x81"),
                                    std::string("\xA0"
                                                "abc")})
        EXPECT_EQ(Hex(Passed(*d, &Dictionary::ApplyPreRe, line)), Hex(line));
    EXPECT_EQ(Passed(*d, &Dictionary::ApplyPreRe, ""), "");
}

// A decoder that does not give one character for each character of the code page, as the
// lead bytes split it, leaves the line alone rather than pair bytes with the wrong character.
TEST(DictionaryPattern, LineIsLeftAloneUnlessEachCharacterDecodesToOne) {
    TextEncoders encoders = test::Encoders();
    encoders.fromShiftJis = [](std::string_view bytes, std::string& utf8) {
        utf8.assign(bytes.size() / 2, 'x');  // one ASCII letter for each two bytes
        return true;
    };
    const SourceFile file{"t.txt", "pre-re\tx\ty\n"};
    const auto d = Dictionary::Compile(std::span(&file, 1), encoders);
    ASSERT_EQ(d->Count(Kind::PreRe), 1u);
    EXPECT_EQ(Hex(Passed(*d, &Dictionary::ApplyPreRe, Sjis("ああ"))), Hex(Sjis("ああ")));
    EXPECT_EQ(Passed(*d, &Dictionary::ApplyPreRe, "xxxx"), "xxxx");
}

// Each unusable entry is named and skipped; the others still apply.
TEST(DictionaryPattern, UnusableEntriesAreNamedAndSkipped) {
    const std::string tooLong(kMaxPatternChars + 1, 'a');
    struct {
        std::string line;
        const char* reason;
        ProblemKind kind;
        std::vector<std::string> args;
    } cases[] = {
        {"pre-re\t(abc\tx", "the pattern fails at character", ProblemKind::kPatternSyntax, {}},
        {"pre-re\tab[c\tx", "fails at character", ProblemKind::kPatternSyntax, {}},
        {"pre-re\t" + tooLong + "\tx",
         "the pattern is 1025 characters, more than 1024",
         ProblemKind::kPatternTooLong,
         {"1025"}},
        {"pre-re\t(a)(b)\t$3",
         "TO uses $3, but the pattern has 2 groups",
         ProblemKind::kPatternGroup,
         {"$3", "2"}},
        {"post-re\ta\t😀", "TO: U+1F600 (😀) has no CP949 form", ProblemKind::kNoForm, {}},
        {"pre-re\ta\t♥", "TO: U+2665 (♥) has no Shift-JIS form", ProblemKind::kNoForm, {}},
        {"pre-re\t♥+\tx", "FROM: U+2665 (♥) has no Shift-JIS form", ProblemKind::kNoForm, {}},
        {"pre-re\t\tx", "FROM is empty", ProblemKind::kEmptyFrom, {}},
        {"pre-rx\ta\tx", "pre-re or post-re", ProblemKind::kUnknownKind, {"pre-rx"}},
    };
    for (const auto& c : cases) {
        std::vector<Problem> problems;
        const auto d = CompileText("pre-re\tい\tう\n" + c.line + "\npre-re\tあ\tい\n", &problems);
        ASSERT_EQ(problems.size(), 1u) << c.line;
        EXPECT_EQ(problems[0].line, 2) << c.line;
        EXPECT_EQ(problems[0].kind, c.kind) << c.line;
        EXPECT_NE(problems[0].reason.find(c.reason), std::string::npos) << problems[0].reason;
        if (!c.args.empty()) {
            EXPECT_EQ(problems[0].args, c.args);
        }
        EXPECT_EQ(Pre(*d, "あい"), Sjis("いう")) << c.line;
    }

    // The position is counted in characters, from 1.
    std::vector<Problem> problems;
    CompileText("pre-re\t《ab)\tx", &problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].args.at(0), "4");

    // A pattern at the limit is fine; $$ and a $ before anything else, $0 too, are dollar
    // signs.
    const auto d = CompileText("pre-re\t" + std::string(kMaxPatternChars, 'a') +
                               "\tx\npre-re\tb\t$$1$x$\npre-re\tc\t$0\n");
    EXPECT_EQ(d->Count(Kind::PreRe), 3u);
    EXPECT_EQ(Pre(*d, "b"), "$1$x$");
    EXPECT_EQ(Pre(*d, "c"), "$0");

    // A replacement's limit is 1024 bytes of the code page, not characters: あ takes two.
    std::string kana;
    for (int k = 0; k < 512; ++k) kana += "あ";
    problems.clear();
    const auto atLimit =
        CompileText("pre-re\tz\t" + kana + "\npre-re\ty\t" + kana + "あ\n", &problems);
    EXPECT_EQ(atLimit->Count(Kind::PreRe), 1u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line, 2);
    EXPECT_EQ(problems[0].reason, "TO is 1026 bytes in Shift-JIS, more than 1024");
}

TEST(DictionaryPattern, EntriesPastTheLimitAreNamed) {
    std::string text;
    for (size_t k = 0; k < 999; ++k) text += "pre-re\t<" + std::to_string(k) + ">\ty\n";
    text += "post-re\tlast\tz\npre-re\tq\tr\npost-re\tp\tz\n";
    std::vector<Problem> problems;
    const auto d = CompileText(text, &problems);
    EXPECT_EQ(d->Count(Kind::PreRe) + d->Count(Kind::PostRe), 1000u);
    EXPECT_EQ(d->Count(Kind::PostRe), 1u);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].line, 1001);
    EXPECT_EQ(problems[1].line, 1002);
    EXPECT_EQ(problems[0].kind, ProblemKind::kTooManyPatterns);
    EXPECT_EQ(Pre(*d, "<998>q"), "yq");
}

// A replacement may make the line at most twice as long plus 256 characters.
TEST(DictionaryPattern, GrowthPastTheLimitLeavesTheEntryOut) {
    const auto d = CompileText("pre-re\ta\t$&$&$&$&\npre-re\tb\tc\n");
    std::vector<Firing> fired;
    // 131 characters in: 4 * 129 + 2 = 518 is just within 2 * 131 + 256 = 518.
    const std::string fits(129, 'a');
    EXPECT_EQ(Pre(*d, fits + "bz", &fired), std::string(516, 'a') + "cz");
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].what, FiringKind::kApplied);
    // 132 in: 522 is past 520.
    const std::string over(130, 'a');
    fired.clear();
    EXPECT_EQ(Pre(*d, over + "bz", &fired), over + "cz");
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].what, FiringKind::kTooLong);
    EXPECT_EQ(fired[0].entry, 0u);
    EXPECT_EQ(fired[1].what, FiringKind::kApplied);
}

// The classic runaway patterns on 10,000-character lines give up within the budget; the
// entry is left out for that line, the others apply, and the next line is matched again.
TEST(DictionaryPattern, RunawayPatternsStopWithinTheBudget) {
    const std::string as(10000, 'a');
    struct {
        const char* pattern;
        std::string line;
        const char* matched;  // a short line it matches whole
    } cases[] = {
        {"(a+)+$", as + "!", "aaa"},
        {"(a|aa)+$", as + "!", "aaa"},
        {"(a|a)*b", as, "aab"},
        {"(.*a){12}", std::string(10000, 'x') + "aaaaaaaaaaa", "aaaaaaaaaaaa"},
        {"(x+x+)+y", "y" + std::string(10000, 'x'), "xxy"},
        {"(\\w+\\s?)+$", as + "!", "ab cd"},
        {"^(([a-z])+.)+[A-Z]([a-z])+$", as + "!", "ab.Cd"},
    };
    for (const auto& c : cases) {
        const auto d = CompileText(std::string("pre-re\t") + c.pattern + "\tX\npre-re\t!\t?\n");
        ASSERT_EQ(d->Count(Kind::PreRe), 2u) << c.pattern;
        std::vector<Firing> fired;
        std::string out;
        const auto start = std::chrono::steady_clock::now();
        RunPass(*d, &Dictionary::ApplyPreRe, c.line.c_str(), out, &fired);
        const auto took = std::chrono::steady_clock::now() - start;
        std::string expected = c.line;
        if (expected.back() == '!') expected.back() = '?';
        EXPECT_EQ(out.c_str(), expected) << c.pattern;
        ASSERT_FALSE(fired.empty()) << c.pattern;
        EXPECT_EQ(fired[0].entry, 0u);
        EXPECT_EQ(fired[0].what, FiringKind::kOverBudget) << c.pattern;
        // Under the sanitizers; an unbounded search would take minutes to years.
        EXPECT_LT(took, std::chrono::seconds(5)) << c.pattern;
        // A short line is matched as usual.
        EXPECT_EQ(Pre(*d, c.matched), "X") << c.pattern;
    }
    // Many searches, each short of any limit of one search, add up: the entry's steps on the
    // line are 250,000 at most, all its searches together.
    {
        const auto many = CompileText("pre-re\ta(?=(?:a|a){0,16}c|)\tb\n");
        const std::string line(2000, 'a');
        std::vector<Firing> fired;
        std::string out(10000, '\0');
        size_t steps = 0;
        many->ApplyPatterns(Kind::PreRe, line.c_str(), out.data(), out.size(), &fired, steps);
        EXPECT_EQ(out.c_str(), line);
        ASSERT_EQ(fired.size(), 1u);
        EXPECT_EQ(fired[0].what, FiringKind::kOverBudget);
        EXPECT_LE(steps, 250000u);
    }

    // A line without a character the pattern cannot do without is not searched at all.
    const auto d = CompileText("pre-re\t(x+x+)+y\tX\n");
    std::vector<Firing> fired;
    EXPECT_EQ(Pre(*d, std::string(10000, 'x'), &fired), std::string(10000, 'x'));
    EXPECT_TRUE(fired.empty());
}

// The classes the guide names, on Japanese and Korean text: a class inside brackets or a
// property is no text the line must hold, and \p{L} is every letter.
TEST(DictionaryPattern, ClassesOnJapaneseAndKoreanText) {
    struct {
        const char* pattern;
        const char* input;
        const char* expected;
    } cases[] = {
        {"[[:digit:]]+", "第１2話", "第#話"},
        {"[^[:digit:]]+", "第１2話", "#１2#"},
        {"[[:alpha:]]+", "ミレイはAbcと3回", "#3#"},
        {"[[:space:]]", "あ　い い", "あ#い#い"},
        {"[[:punct:]]+", "「はい！」", "#はい#"},
        {"\\p{L}+", "ミレイは3回、Ｂｏｂと言った", "#3#、#"},
        {"\\pL+", "勇者ミレイ", "#"},
        {"\\P{L}+", "ミレイは3回、言った", "ミレイは#回#言った"},
        {"\\p{Han}+", "勇者ミレイは々", "#ミレイは#"},
        {"\\p{Hiragana}+", "勇者ミレイはね", "勇者ミレイ#"},
        {"\\p{Katakana}+", "勇者ミレイーはｱｲ", "勇者#は#"},
        {"\\p{Lu}\\p{Ll}+", "Ｂｏｂ and Alice", "# and #"},
        {"\\w+", "ミレイ_1は", "#"},
        {"\\d+", "１２と34", "#と#"},
        {"\\s+", "あ　\tい", "あ#い"},
    };
    for (const auto& c : cases) {
        std::vector<Problem> problems;
        const auto d = CompileText(std::string("pre-re\t") + c.pattern + "\t#\n", &problems);
        ASSERT_TRUE(problems.empty()) << c.pattern << ": " << problems[0].reason;
        EXPECT_EQ(Hex(Pre(*d, c.input)), Hex(Sjis(c.expected))) << c.pattern << " on " << c.input;
    }
    const auto k = CompileText(
        "post-re\t\\p{Hangul}+\t가\npost-re\t[[:digit:]]+\t#\npost-re\t\\p{L}\\p{L}\tL\n");
    EXPECT_EQ(Hex(Passed(*k, &Dictionary::ApplyPostRe, Cp949("미레이가 3번 ㅋㅋ 봤다 Ok"))),
              Hex(Cp949("가 #가 가 가 L")));
}

// All the entries of a pass on a line take 1,000,000 steps at most: 10,000 entries (the
// first 1,000 in use), each within its own budget on a line they all match, and those left
// when the line's steps are spent are left out.
TEST(DictionaryPattern, TheEntriesOfALineShareItsBudget) {
    std::string text;
    for (int k = 0; k < 10000; ++k)
        text += "pre-re\ta(?=(?:a|a){0," + std::to_string(k % 4) + "}c|)(?:x" + std::to_string(k) +
                ")?\t$&\n";
    const auto d = CompileText(text);
    ASSERT_EQ(d->Count(Kind::PreRe), 1000u);
    const std::string line(2000, 'a');
    std::vector<Firing> fired;
    std::string out(10000, '\0');
    size_t steps = 0;
    d->ApplyPatterns(Kind::PreRe, line.c_str(), out.data(), out.size(), &fired, steps);
    EXPECT_EQ(out.c_str(), line);
    EXPECT_LE(steps, 1000000u);
    ASSERT_EQ(fired.size(), 1000u);
    EXPECT_EQ(fired[0].what, FiringKind::kApplied);
    EXPECT_EQ(fired[999].what, FiringKind::kLineOverBudget);
    size_t applied = 0;
    for (const Firing& f : fired) {
        EXPECT_NE(f.what, FiringKind::kOverBudget);
        applied += f.what == FiringKind::kApplied;
    }
    EXPECT_GT(applied, 1u);
    EXPECT_LT(applied, 1000u);
    // The next line has the whole budget again.
    fired.clear();
    steps = 0;
    d->ApplyPatterns(Kind::PreRe, "ac", out.data(), out.size(), &fired, steps);
    EXPECT_EQ(fired.size(), 1000u);
    EXPECT_EQ(fired[999].what, FiringKind::kApplied);
}

// A trace learns each match and what replaced it, and where the entry was read.
TEST(DictionaryPattern, FiringsTellWhatWasReplaced) {
    const auto d = CompileText("# ruby\npre-re\t《([^》]*)》\t($1)\npre-re\tz\ty\npre\tz\ty\n",
                               nullptr, "ruby.txt");
    std::vector<Firing> fired;
    EXPECT_EQ(Pre(*d, "勇者《ゆうしゃ》と魔王《まおう》", &fired),
              Sjis("勇者(ゆうしゃ)と魔王(まおう)"));
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].what, FiringKind::kApplied);
    EXPECT_EQ(fired[0].replaced,
              (std::vector<std::string>{"《ゆうしゃ》", "(ゆうしゃ)", "《まおう》", "(まおう)"}));
    const EntryInfo e = d->Info(fired[0].entry);
    EXPECT_EQ(e.kind, Kind::PreRe);
    EXPECT_EQ(e.file, "ruby.txt");
    EXPECT_EQ(e.line, 2);
    EXPECT_EQ(e.from, "《([^》]*)》");
    EXPECT_EQ(e.to, "($1)");
    EXPECT_STREQ(KindName(e.kind), "pre-re");
    EXPECT_STREQ(KindName(Kind::PostRe), "post-re");
}

// Without decoders pattern entries cannot be used, and say so; literal entries still can.
TEST(DictionaryPattern, NoDecoderNoPatterns) {
    TextEncoders encoders = test::Encoders();
    encoders.fromCp949 = nullptr;
    const SourceFile file{"t.txt", "post-re\ta\tb\npre-re\ta\tb\npost\t가\t나\n"};
    std::vector<Problem> problems;
    const auto d = Dictionary::Compile(std::span(&file, 1), encoders, &problems);
    EXPECT_EQ(d->Count(Kind::PostRe), 0u);
    EXPECT_EQ(d->Count(Kind::PreRe), 1u);
    EXPECT_EQ(d->Count(Kind::Post), 1u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].kind, ProblemKind::kNoConversion);
    EXPECT_EQ(problems[0].line, 1);
}

}  // namespace
}  // namespace mirelo::dict

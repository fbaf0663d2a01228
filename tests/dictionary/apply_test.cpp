// Applying a compiled dictionary: longest match, character boundaries of both encodings,
// no second look at replaced text, later entries winning, names and their particles, and
// every capacity giving a prefix of the whole result.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../filters/filter_test_util.h"
#include "iconv_encoders.h"

namespace mirelo::dict {
namespace {

using mirelo::test::ExactText;
using mirelo::test::Hex;
using test::CompileText;
using test::Cp949;
using test::Sjis;

using Pass = size_t (Dictionary::*)(const char*, char*, size_t, std::vector<Firing>*) const;

// Runs a pass with room to spare, then at every smaller capacity into an exact-size buffer:
// each must give the same length and a prefix of the whole result.
std::string Apply(const Dictionary& d, Pass pass, const std::string& input,
                  std::vector<Firing>* fired = nullptr) {
    ExactText src(input);
    const size_t length = (d.*pass)(src.get(), nullptr, 0, nullptr);
    std::string whole(length + 1, '\x5A');
    EXPECT_EQ((d.*pass)(src.get(), whole.data(), whole.size(), fired), length);
    EXPECT_EQ(whole[length], '\0');
    whole.resize(length);
    for (size_t cap = 1; cap <= length; ++cap) {
        std::unique_ptr<char[]> dst(new char[cap]);
        EXPECT_EQ((d.*pass)(src.get(), dst.get(), cap, nullptr), length);
        EXPECT_EQ(std::string(dst.get()), whole.substr(0, cap - 1)) << "cap " << cap;
    }
    return whole;
}

TEST(DictionaryApply, LongestMatchWithoutRescan) {
    const auto d = CompileText(
        "pre\tA\t1\npre\tAB\t2\npre\tABC\t3\n"
        "pre\tx\txx\npre\txx\tQ\n"    // replaced text is not read again
        "pre\tmn\tn\npre\tno\tZ\n");  // nor is a match's tail joined to what follows
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"ABCD AB A", "3D 2 1"}, {"ABAB", "22"}, {"x", "xx"}, {"xx", "Q"},
        {"xxx", "Qxx"},          {"mno", "no"},  {"", ""},    {"B", "B"},
    };
    for (const auto& c : cases) EXPECT_EQ(Apply(*d, &Dictionary::ApplyPre, c.in), c.out) << c.in;
}

TEST(DictionaryApply, ManyBranchesAtOneNode) {
    std::string entries = "pre\tZ\tz\n";
    for (char k = '0'; k <= '9'; ++k) entries += std::string("pre\tZ") + k + "\t" + k + "\n";
    const auto d = CompileText(entries);
    EXPECT_EQ(Apply(*d, &Dictionary::ApplyPre, "Z5Z Z9Z:Z0"), "5z 9z:0");
}

TEST(DictionaryApply, MatchesStartOnCharacterBoundaries) {
    // Shift-JIS: ソ is 83 5C and ー is 81 5B, so '\' and '[' hide in them; ア is 83 41.
    // Half-width ｱ (B1) is a character of its own, so ｲ after it matches.
    const auto pre = CompileText("pre\t\\\t/\npre\t[\t(\npre\tA\ta\npre\tｲ\ti\n");
    const std::string sjis = Sjis("ソ\\ー[アAｱｲ");
    EXPECT_EQ(Hex(Apply(*pre, &Dictionary::ApplyPre, sjis)), Hex(Sjis("ソ/ー(アaｱi")));
    // The first and last lead bytes of both ranges: 歃 9F 5C, 濬 E0 5C, 檗 9F 40, 黑 FC 4B.
    const auto trails = CompileText("pre\t\\\t/\npre\t@\tat\npre\tK\tk\n");
    EXPECT_EQ(Hex(Apply(*trails, &Dictionary::ApplyPre, Sjis("歃\\濬@檗K黑"))),
              Hex(Sjis("歃/濬at檗k黑")));

    // CP949: 갂 is 81 41 and 힝 is C8 FE; neither 'A' nor a trail byte 0xFE starts a match.
    const auto post = CompileText("post\tA\ta\npost\t\xEC\x95\x84\tX\n");  // 아
    const std::string cp949 = Cp949("갂A힝아");
    EXPECT_EQ(Hex(Apply(*post, &Dictionary::ApplyPost, cp949)), Hex(Cp949("갂a힝X")));
    // A lone lead byte at the end is one character.
    EXPECT_EQ(Hex(Apply(*post, &Dictionary::ApplyPost, "A\x81")), Hex("a\x81"));
}

TEST(DictionaryApply, EntryReadLastWins) {
    const SourceFile files[] = {
        {"a.txt", "post\t가\t하나\npost\t가\t둘\n"},
        {"b.txt", "post\t가\t셋\npost\t나\t넷\n"},
    };
    const auto d = Dictionary::Compile(files, test::Encoders());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(Kind::Post), 2u);
    std::vector<Firing> fired;
    EXPECT_EQ(Apply(*d, &Dictionary::ApplyPost, Cp949("가나"), &fired), Cp949("셋넷"));
    ASSERT_EQ(fired.size(), 2u);
    const EntryInfo& first = d->Info(fired[0].entry);
    EXPECT_EQ(first.file, "b.txt");
    EXPECT_EQ(first.line, 1);
    EXPECT_EQ(first.to, "셋");
}

// Only within a kind does a later entry hide an earlier one with the same FROM.
TEST(DictionaryApply, TheSameFromInEachKindIsAnEntryOfEach) {
    const auto d = CompileText(
        "post\tX\tZ\nname\tX\t미\npre\tX\tY\nline\tX\tW\npre-re\tX\tV\npost-re\tX\tU\n");
    for (Kind kind : kKinds) EXPECT_EQ(d->Count(kind), 1u) << KindName(kind);
    std::string_view line;
    EXPECT_TRUE(d->FindLine("X", line));
    EXPECT_EQ(line, "W");
    EXPECT_EQ(Apply(*d, &Dictionary::ApplyPre, "X"), "Y");
    EXPECT_EQ(Apply(*d, &Dictionary::ProtectNames, "X"), "_&00000&_");
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00000&_"), Cp949("미"));
    EXPECT_EQ(Apply(*d, &Dictionary::ApplyPost, "X"), "Z");
    EXPECT_EQ(Apply(*d, &Dictionary::ApplyPreRe, "X"), "V");
    EXPECT_EQ(Apply(*d, &Dictionary::ApplyPostRe, "X"), "U");
}

TEST(DictionaryApply, NamesTravelAsMarkersAndComeBackWhole) {
    const auto d = CompileText("name\tミレイ\t미레이\nname\tミレイさん\t미레이 씨\n");
    const std::string marked = Apply(*d, &Dictionary::ProtectNames, Sjis("ミレイさんとミレイは"));
    // Names are numbered in their sorted order: ミレイ is 0, ミレイさん 1.
    EXPECT_EQ(Hex(marked), Hex("_&00001&_" + Sjis("と") + "_&00000&_" + Sjis("は")));

    std::vector<Firing> fired;
    EXPECT_EQ(
        Apply(*d, &Dictionary::RestoreNames, "_&00001&_, _&00000&_! _&00002&_ _&0000&_", &fired),
        Cp949("미레이 씨, 미레이! ") + "_&00002&_ _&0000&_");
    EXPECT_EQ(fired.size(), 2u);
}

TEST(DictionaryApply, ParticleAgreesWithTheNamesLastSyllable) {
    // 민준 ends in ㄴ, 미레이 in no consonant, 하늘 in ㄹ; 가 and 힣 are the first and the
    // last syllable, with no consonant and with ㅎ.
    const auto d = CompileText(
        "name\tA\t민준\nname\tB\t미레이\nname\tC\t하늘\nname\tD\tAlice\n"
        "name\tE\t가\nname\tF\t힣\n");
    struct {
        const char* consonantForm;
        const char* vowelForm;
        bool rieulTakesVowelForm;
    } pairs[] = {
        {"은", "는", false},   {"이", "가", false},   {"을", "를", false},  {"과", "와", false},
        {"이나", "나", false}, {"이랑", "랑", false}, {"으로", "로", true},
    };
    for (const auto& p : pairs) {
        for (const char* written : {p.consonantForm, p.vowelForm}) {
            const std::string after = std::string(written) + ".";
            auto restore = [&](const char* marker) {
                return Apply(*d, &Dictionary::RestoreNames, marker + Cp949(after));
            };
            EXPECT_EQ(restore("_&00000&_"), Cp949(std::string("민준") + p.consonantForm + "."));
            EXPECT_EQ(restore("_&00001&_"), Cp949(std::string("미레이") + p.vowelForm + "."));
            EXPECT_EQ(restore("_&00002&_"),
                      Cp949(std::string("하늘") +
                            (p.rieulTakesVowelForm ? p.vowelForm : p.consonantForm) + "."));
            EXPECT_EQ(restore("_&00003&_"), Cp949("Alice" + after));  // not Hangul: as written
            EXPECT_EQ(restore("_&00004&_"), Cp949(std::string("가") + p.vowelForm + "."));
            EXPECT_EQ(restore("_&00005&_"), Cp949(std::string("힣") + p.consonantForm + "."));
        }
    }
    // Only a particle that ends the word changes; the end of the text ends it too.
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00001&_" + Cp949("이다")),
              Cp949("미레이이다"));
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00001&_" + Cp949("은")), Cp949("미레이는"));
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00000&_" + Cp949("이나마")),
              Cp949("민준이나마"));
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00000&_" + Cp949("는 ㅋ")),
              Cp949("민준은 ㅋ"));
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00000&_" + Cp949("는ㅋ")), Cp949("민준는ㅋ"));
    // Hangul at the edges of the code page's rows goes on the word too: 힝 C8 FE, 힣 C6 52
    // (the last extended one), 갂 81 41 (the first).
    for (const char* next : {"힝", "힣", "갂"}) {
        EXPECT_EQ(
            Apply(*d, &Dictionary::RestoreNames, "_&00001&_" + Cp949(std::string("은") + next)),
            Cp949(std::string("미레이은") + next))
            << next;
    }
}

// The name pass walks Shift-JIS characters: a half-width kana is one byte, so a name right
// after it is found. A name is matched only where an entry ends, never where entries that go
// further merely branch (ミレイ先 is no name of its own).
TEST(DictionaryApply, NamesEndWhereAnEntryEnds) {
    const auto d = CompileText(
        "name\tミレイ\t미레이\nname\tミレイ先生\t미레이 선생님\n"
        "name\tミレイ先輩\t미레이 선배\n");
    // Numbered in byte order: ミレイ 0, ミレイ先生 1, ミレイ先輩 2.
    struct {
        const char* in;
        std::string out;
    } cases[] = {
        {"ミレイ先に", "_&00000&_" + Sjis("先に")},
        {"ミレイ先生と", "_&00001&_" + Sjis("と")},
        {"ミレイ先輩", "_&00002&_"},
        {"ミレイ先", "_&00000&_" + Sjis("先")},
        {"ｱミレイ先に", Sjis("ｱ") + "_&00000&_" + Sjis("先に")},
        {"ﾊﾟミレイ先輩ｶ", Sjis("ﾊﾟ") + "_&00002&_" + Sjis("ｶ")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(Apply(*d, &Dictionary::ProtectNames, Sjis(c.in))), Hex(c.out)) << c.in;
}

// Entries are numbered pre, names, post; the markers count from the first name, so a pre
// entry before it must not shift them, nor a post entry after it be taken for a name.
TEST(DictionaryApply, NameMarkersCountFromTheFirstName) {
    const auto d = CompileText("pre\tA\tB\nname\tミレイ\t미레이\npost\tX\tY\npre\tC\tD\n");
    const std::string pre = Apply(*d, &Dictionary::ApplyPre, Sjis("Aミレイは"));
    EXPECT_EQ(Hex(Apply(*d, &Dictionary::ProtectNames, pre)), Hex("B_&00000&_" + Sjis("は")));

    std::vector<Firing> fired;
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00000&_" + Cp949("은 X"), &fired),
              Cp949("미레이는 X"));
    ASSERT_EQ(fired.size(), 1u);
    const EntryInfo name = d->Info(fired[0].entry);
    EXPECT_EQ(name.kind, Kind::Name);
    EXPECT_EQ(name.line, 2);
    EXPECT_EQ(name.to, "미레이");
    EXPECT_EQ(d->Info(0).kind, Kind::Pre);
    EXPECT_EQ(d->Info(3).kind, Kind::Post);
    EXPECT_EQ(d->Info(3).from, "X");
    // One name: the next number is nobody's.
    EXPECT_EQ(Apply(*d, &Dictionary::RestoreNames, "_&00001&_"), "_&00001&_");
}

// A marker may follow an underscore, or the start of another marker that breaks off.
TEST(DictionaryApply, MarkerRightAfterAnUnderscoreIsFound) {
    const auto d = CompileText("name\tミレイ\t미레이\n");
    EXPECT_EQ(Hex(Apply(*d, &Dictionary::ProtectNames, Sjis("HP_ミレイ"))), Hex("HP__&00000&_"));
    struct {
        std::string in, out;
    } cases[] = {
        {"HP__&00000&_" + Cp949("이"), Cp949("HP_미레이가")},
        {"__&00000&_", Cp949("_미레이")},
        {"_&_&00000&_", Cp949("_&미레이")},
        {"_&0000_&00000&_", Cp949("_&0000미레이")},
        {"_&00000&__&00000&_", Cp949("미레이미레이")},
        {"_&00000&_&00000&_", Cp949("미레이&00000&_")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(Apply(*d, &Dictionary::RestoreNames, c.in)), Hex(c.out)) << c.in;
}

// A game line may end in a Shift-JIS lead byte with nothing after it: one character, which
// no entry starting with that byte may read past.
TEST(DictionaryApply, LeadByteAloneAtTheEndOfALine) {
    // あ is 82 A0, ミ 83 7E, レ 83 8C.
    const auto d = CompileText("pre\tあ\tX\npre\tA\tB\nname\tミレイ\t미레이\nname\tミ\t미\n");
    struct {
        Pass pass;
        std::string in, out;
    } cases[] = {
        {&Dictionary::ApplyPre, "A\x82", "B\x82"},
        {&Dictionary::ApplyPre, "\x82", "\x82"},
        {&Dictionary::ApplyPre, Sjis("あ") + "\x82", "X\x82"},
        {&Dictionary::ProtectNames, "\x83", "\x83"},
        {&Dictionary::ProtectNames, Sjis("ミ") + "\x83", "_&00000&_\x83"},
        {&Dictionary::ProtectNames, Sjis("ミレ") + "\x83", "_&00000&_" + Sjis("レ") + "\x83"},
        {&Dictionary::ProtectNames, Sjis("ミレイ") + "\x83", "_&00001&_\x83"},
    };
    for (const auto& c : cases) EXPECT_EQ(Hex(Apply(*d, c.pass, c.in)), Hex(c.out)) << Hex(c.in);
}

TEST(DictionaryRunPass, FillsAnEmptyBufferAndAReusedOneWhoseOldTextWasLonger) {
    const auto d = CompileText("pre\tA\tBBBBBBBB\npre\tC\t\n");
    std::string buffer;
    std::vector<Firing> fired;
    EXPECT_STREQ(RunPass(*d, &Dictionary::ApplyPre, "xAx", buffer, &fired), "xBBBBBBBBx");
    EXPECT_EQ(fired.size(), 1u);  // once, though the pass had to run again
    EXPECT_STREQ(RunPass(*d, &Dictionary::ApplyPre, "yCy", buffer, &fired), "yy");
    EXPECT_EQ(fired.size(), 2u);
    EXPECT_STREQ(RunPass(*d, &Dictionary::ApplyPre, "", buffer), "");
    EXPECT_STREQ(RunPass(*d, &Dictionary::ApplyPre, nullptr, buffer), "");

    // Four bytes hold a three-byte result and its terminator; a four-byte one needs more.
    for (const char* text : {"xyz", "wxyz", "A"}) {
        std::string four(4, '#');
        EXPECT_STREQ(RunPass(*d, &Dictionary::ApplyPre, text, four),
                     std::string(text) == "A" ? "BBBBBBBB" : text);
    }
}

TEST(DictionaryApply, EmptyDictionaryAndNullTextCopyOrWriteNothing) {
    const auto d = CompileText("");
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->Empty());
    const std::string text = Sjis("ミレイ_&00000&_");
    for (Pass pass : {&Dictionary::ApplyPre, &Dictionary::ProtectNames, &Dictionary::RestoreNames,
                      &Dictionary::ApplyPost}) {
        EXPECT_EQ(Apply(*d, pass, text), text);
        char dst[4] = "abc";
        EXPECT_EQ(((*d).*pass)(nullptr, dst, sizeof dst, nullptr), 0u);
        EXPECT_EQ(dst[0], '\0');
    }
}

}  // namespace
}  // namespace mirelo::dict

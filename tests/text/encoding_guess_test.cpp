// Telling the encoding of a text that is not UTF-8. Inputs are written as the bytes an
// editor saves (code page 949 or 932, UTF-16), in hex where they are not ASCII.
#include <gtest/gtest.h>

#include <string>

#include "encoding_guess.h"

namespace mirelo::text {
namespace {

using std::string_literals::operator""s;

TEST(EncodingGuess, CodePageWalksAcceptOnlyWellFormedText) {
    const struct {
        std::string bytes;
        bool sjis, cp949;
    } cases[] = {
        {"plain ascii\t\r\n", true, true},
        {"\x82\xA0\x82\xA2", true, true},   // あい in Shift-JIS; CP949 reads it too
        {"\x83\x5E\x83\x60", true, false},  // タチ: trail 0x5E has no CP949 place
        {"\xB9\xCC\xB7\xC9", true, true},   // 미령 in CP949; Shift-JIS katakana
        {"\xC8\xFE", false, true},          // 힝: trail 0xFE is no Shift-JIS trail
        {"\xB1\xB9\xEE\xFD", false, true},  // 국, 0xEEFD: Shift-JIS trail 0xFD
        {"\x82", false, false},             // a lead byte at the end
        {"\x82\x0A", false, false},         // a lead byte before a line feed
        {"\x80", false, false},             // neither takes 0x80 alone
        {"\xFF", false, false},             //
        {"\xA0", false, false},             // nor 0xA0
        {"\xC7\x41", true, false},          // CP949 lead 0xC7 takes 0xA1-0xFE only
        {"\xC6\x41", true, true},           // its extension below 0xC7 takes 0x41
        {"\xE3\x81\x82", false, false},     // あ in UTF-8: 0x82 is cut short
        {"a\x00"
         "b"s,
         true, true},  // NUL is ASCII to both
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsShiftJisText(c.bytes), c.sjis) << testing::PrintToString(c.bytes);
        EXPECT_EQ(IsCp949Text(c.bytes), c.cp949) << testing::PrintToString(c.bytes);
    }
}

TEST(EncodingGuess, LegacyCodePageOfDictionaryLikeText) {
    const struct {
        std::string bytes;
        LegacyCodePage expected;
    } cases[] = {
        // name ミレイ 미레이, post 좋은 아침 안녕, saved by a Korean Notepad (CP949).
        {"name\t\xAB\xDF\xAB\xEC\xAB\xA4\t\xB9\xCC\xB7\xB9\xC0\xCC\r\n"
         "post\t\xC1\xC1\xC0\xBA \xBE\xC6\xC4\xA7\t\xBE\xC8\xB3\xE7\r\n",
         LegacyCodePage::kCp949},
        // Hangul only, which Shift-JIS also reads as katakana bytes: still Korean.
        {"post\t\xB0\xA1\t\xB3\xAA\n", LegacyCodePage::kCp949},
        // pre ゆうしゃ 勇者, saved by a Japanese Notepad (Shift-JIS); CP949 reads it too.
        {"pre\t\x82\xE4\x82\xA4\x82\xB5\x82\xE1\t\x97\x45\x8E\xD2\r\n", LegacyCodePage::kShiftJis},
        // Katakana whose trail bytes CP949 has no place for.
        {"pre\t\x83\x5E\x83\x60\tx\n", LegacyCodePage::kShiftJis},
        // One odd two-byte character: a damaged line more likely than another code page.
        {"pre\t\xC0\xAF\tx", LegacyCodePage::kNone},
        {"pre\t\xE3\x81\tx", LegacyCodePage::kNone},
        // Read by neither.
        {"pre\t\xFF\xFE\xFF\tx", LegacyCodePage::kNone},
        {"\xE3\x81\x82\xE3\x81", LegacyCodePage::kNone},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GuessLegacyCodePage(c.bytes), c.expected) << testing::PrintToString(c.bytes);
}

TEST(EncodingGuess, Utf16ByItsMarkOrItsNulBytes) {
    const struct {
        std::string bytes;
        bool utf16;
    } cases[] = {
        {"\xFF\xFE"s, true},                                      // little-endian mark alone
        {"\xFE\xFF\x00p"s, true},                                 // big-endian mark
        {"p\0r\0e\0\t\0A\0\t\0B\0\r\0\n\0"s, true},               // pre A B, no mark
        {"\0p\0r\0e\0\t\0A\0\t\0B"s, true},                       // the same, big-endian
        {"n\0a\0m\0e\0\t\0\xDF\x30\xEC\x30\t\0\xF8\xBB"s, true},  // ミレ and 미 have no NUL
        {"pre\ta\0b\tc"s, false},                                 // one stray NUL
        {"p\0r\0e\0"s, false},                                    // fewer than four
        {"pre\tA\tB\n"s, false},
        {"\0\0\0\0\0\0\0\0"s, false},  // NULs on both sides
        {""s, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LooksLikeUtf16(c.bytes), c.utf16) << testing::PrintToString(c.bytes);
}

// The guesses on their edges: "most" is more than half, and four NULs is the least that
// says UTF-16.
TEST(EncodingGuess, ThresholdsHoldExactlyAtTheirEdges) {
    // あい reads as two pairs in both code pages, outside KS X 1001 for CP949; 가나 lies in it
    // and reads as four katakana in Shift-JIS. Half in the block is not most.
    const std::string kana = "\x82\xA0\x82\xA2", hangul = "\xB0\xA1\xB3\xAA";
    EXPECT_EQ(GuessLegacyCodePage(kana + hangul), LegacyCodePage::kShiftJis);
    EXPECT_EQ(GuessLegacyCodePage(kana + hangul + "\xB4\xD9"), LegacyCodePage::kCp949);
    EXPECT_EQ(GuessLegacyCodePage("\x82\xA0" + hangul), LegacyCodePage::kCp949);  // one pair

    const std::string ascii12(24, 'a');
    const struct {
        std::string bytes;
        bool utf16;
    } cases[] = {
        {"p\0r\0e\0\t\0"s, true},                   // four NULs, nothing else
        {"a\0b\0c\0d\0"s + ascii12, true},          // four in sixteen characters: a quarter
        {"a\0b\0c\0d\0"s + ascii12 + "ee", false},  // four in seventeen
        {"a\0b\0c\0d\0e\0f\0g\0h\0\0i"s, true},     // one NUL on the other side per eight
        {"a\0b\0c\0d\0e\0f\0g\0\0i"s, false},       // one per seven
    };
    for (const auto& c : cases)
        EXPECT_EQ(LooksLikeUtf16(c.bytes), c.utf16) << testing::PrintToString(c.bytes);

    // A UTF-16 file that opens with a long comment in kana (ア is A2 30, no NUL): its first
    // NULs come 3 KB in, and the guess must still see them.
    std::string file = "#\0"s;
    for (int i = 0; i < 1500; ++i) file += "\xA2\x30";
    for (int i = 0; i < 200; ++i) file += "\r\0\n\0p\0r\0e\0\t\0A\0\t\0B\0"s;
    EXPECT_TRUE(LooksLikeUtf16(file));
}

}  // namespace
}  // namespace mirelo::text

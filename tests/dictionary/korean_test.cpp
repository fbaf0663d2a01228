// The character rules under the matcher and the particles: where a character of either code
// page ends, what counts as Hangul in CP949, and how a name's last syllable ends.
#include <gtest/gtest.h>

#include <string>

#include "../filters/filter_test_util.h"
#include "korean.h"

namespace mirelo::dict {
namespace {

using mirelo::test::ExactText;
using mirelo::test::Hex;

size_t Unit(size_t (*unit)(const Byte*), const std::string& text) {
    ExactText exact(text);
    return unit(reinterpret_cast<const Byte*>(exact.get()));
}

TEST(Characters, LeadBytesOfBothCodePagesAtTheirEdges) {
    struct {
        const char* text;
        size_t sjis, cp949;
    } cases[] = {
        {"\x80\x40", 1, 1}, {"\x81\x40", 2, 2}, {"\x9F\x40", 2, 2}, {"\xA0\x40", 1, 2},
        {"\xA1\x40", 1, 2}, {"\xDF\x40", 1, 2}, {"\xE0\x40", 2, 2}, {"\xFC\x40", 2, 2},
        {"\xFD\x40", 1, 2}, {"\xFE\x40", 1, 2}, {"\xFF\x40", 1, 1}, {"A\x81", 1, 1},
        {"\x81", 1, 1},  // a lead byte before the end is a character of its own
        {"\xE0", 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Unit(SjisUnit, c.text), c.sjis) << Hex(c.text);
        EXPECT_EQ(Unit(Cp949Unit, c.text), c.cp949) << Hex(c.text);
    }
}

TEST(Characters, HangulOfCp949AtTheEdgesOfItsRows) {
    struct {
        unsigned char lead, trail;
        bool hangul;
    } cases[] = {
        {0x81, 0x41, true},  // 갂, the first extended syllable
        {0xA0, 0xFE, true},  // extended, in the last row before KS X 1001
        {0x81, 0x40, false}, {0x81, 0x5B, false}, {0x81, 0x60, false},
        {0x81, 0x7B, false}, {0xA1, 0x41, true},  // 좥
        {0xA1, 0xA1, false},                      // a symbol of KS X 1001
        {0xA3, 0xC1, false},                      // full-width A
        {0xA4, 0xA1, true},                       // ㄱ
        {0xA4, 0xBB, true},                       // ㅋ
        {0xA5, 0xA1, false},                      // a Roman numeral
        {0xAF, 0xFE, false}, {0xB0, 0xA1, true},  // 가
        {0xC8, 0xFE, true},                       // 힝, the last of KS X 1001
        {0xC5, 0xA0, true},                       // 힋
        {0xC6, 0x52, true},                       // 힣
        {0xC6, 0x53, false}, {0xC9, 0xA1, false}, {0xCA, 0xA1, false},  // a hanja
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsCp949Hangul(c.lead, c.trail), c.hangul)
            << std::hex << int{c.lead} << " " << int{c.trail};
    }
}

TEST(Characters, LastSyllableOfANameDecidesHowItEnds) {
    struct {
        const char* utf8;
        Final final;
    } cases[] = {
        {"가", Final::None},
        {"각", Final::Other},
        {"갈", Final::Rieul},
        {"갏", Final::Other},
        {"힣", Final::Other},
        {"히", Final::None},
        {"미레이", Final::None},
        {"하늘", Final::Rieul},
        {"민준", Final::Other},
        {"민준a", Final::Unknown},
        {"Alice", Final::Unknown},
        {"ㄱ", Final::Unknown},
        {"", Final::Unknown},
        {"\xEA\xAF\xBF", Final::Unknown},  // U+ABFF, before 가
        {"\xED\x9E\xA4", Final::Unknown},  // U+D7A4, after 힣
        {"\xEA\xB0", Final::Unknown},
    };
    for (const auto& c : cases) EXPECT_EQ(FinalOfUtf8(c.utf8), c.final) << c.utf8;
}

}  // namespace
}  // namespace mirelo::dict

// The character walks every filter and the dictionary lean on, and the hex digits of
// percent-escapes and the stand-in engine's scripts.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "hex.h"
#include "multibyte.h"

namespace mirelo::text {
namespace {

// Bytes as they come, with the NUL the walks rely on after them.
struct WalkCase {
    const char* what;
    std::string bytes;
    size_t shiftJis;  // length of the first character read as Shift-JIS
    size_t cp949;     // and as CP949
};

TEST(CharacterWalk, LeadBytesAndTheNulAfterThem) {
    const WalkCase cases[] = {
        {"ASCII", "a", 1, 1},
        {"first Shift-JIS lead", "\x81\x40", 2, 2},
        {"last lead of the first range", "\x9F\xFC", 2, 2},
        {"half-width katakana stays one byte", "\xA1\xB1", 1, 2},
        {"last half-width katakana", "\xDF\xA1", 1, 2},
        {"first lead of the second range", "\xE0\x40", 2, 2},
        {"last Shift-JIS lead", "\xFC\x40", 2, 2},
        {"past the Shift-JIS leads, still CP949", "\xFD\xA1", 1, 2},
        {"0xFF leads nothing", "\xFF\xA1", 1, 1},
        {"0x80 leads nothing", "\x80\x41", 1, 1},
        {"a lead alone before the NUL", "\x82", 1, 1},
    };
    for (const WalkCase& c : cases) {
        const auto* p = reinterpret_cast<const uint8_t*>(c.bytes.c_str());
        EXPECT_EQ(ShiftJisCharLength(p), c.shiftJis) << c.what;
        EXPECT_EQ(Cp949CharLength(p), c.cp949) << c.what;
    }
}

TEST(CharacterWalk, ShiftJisTrailBytes) {
    for (int b = 0; b < 256; ++b) {
        const bool expected = (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
        EXPECT_EQ(IsShiftJisTrail(static_cast<uint8_t>(b)), expected) << b;
    }
}

TEST(Hex, DigitsOfEitherCaseAndNothingElse) {
    const std::string digits = "0123456789abcdef";
    for (int v = 0; v < 16; ++v) {
        EXPECT_EQ(HexDigitValue(digits[v]), v);
        EXPECT_EQ(HexDigitValue(static_cast<char>(std::toupper(digits[v]))), v);
    }
    for (char c : std::string("/:@`gG \x80")) EXPECT_EQ(HexDigitValue(c), -1) << int(c);
}

}  // namespace
}  // namespace mirelo::text

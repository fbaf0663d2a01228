#pragma once
// Walking the two code pages a game line and the engine's answer come in: Shift-JIS
// (code page 932) and CP949. Texts are NUL-terminated, so a lead byte right before the NUL
// stands alone and is one character.

#include <cstddef>
#include <cstdint>

namespace mirelo::text {

// Lead bytes 0x81-0x9F and 0xE0-0xFC; single-byte half-width katakana 0xA1-0xDF stay one
// byte.
inline bool IsShiftJisLead(uint8_t c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Trail bytes 0x40-0x7E and 0x80-0xFC.
inline bool IsShiftJisTrail(uint8_t c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

inline bool IsCp949Lead(uint8_t c) {
    return c >= 0x81 && c <= 0xFE;
}

// Bytes of the character at `s` (s[0] not NUL).
inline size_t ShiftJisCharLength(const uint8_t* s) {
    return IsShiftJisLead(s[0]) && s[1] != 0 ? 2 : 1;
}
inline size_t Cp949CharLength(const uint8_t* s) {
    return IsCp949Lead(s[0]) && s[1] != 0 ? 2 : 1;
}

// The same as types, so that a matcher's inner loop is compiled once for each code page.
struct ShiftJisChars {
    size_t operator()(const uint8_t* s) const { return ShiftJisCharLength(s); }
};
struct Cp949Chars {
    size_t operator()(const uint8_t* s) const { return Cp949CharLength(s); }
};

}  // namespace mirelo::text

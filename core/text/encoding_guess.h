#pragma once
// Which encoding a text that is not UTF-8 was saved in, told from its bytes alone: what
// Windows editors write besides UTF-8 is UTF-16, or the system's ANSI code page (CP949 on
// Korean Windows, Shift-JIS on Japanese Windows).

#include <string_view>

namespace mirelo::text {

// Well-formed Shift-JIS: ASCII, single-byte katakana 0xA1-0xDF, and lead bytes 0x81-0x9F or
// 0xE0-0xFC each followed by a trail byte 0x40-0x7E or 0x80-0xFC.
bool IsShiftJisText(std::string_view s);

// Well-formed CP949: ASCII, and lead bytes 0x81-0xFE each followed by a trail byte in
// 0xA1-0xFE, or (leads 0x81-0xC6, the extension of KS X 1001) also 0x41-0x5A, 0x61-0x7A,
// 0x81-0xA0.
bool IsCp949Text(std::string_view s);

// A UTF-16 byte order mark, or NUL bytes at every other place (at least four, and for at
// least a quarter of the characters), as ASCII characters such as tabs, the kinds of a
// dictionary line and line ends give in UTF-16.
bool LooksLikeUtf16(std::string_view s);

enum class LegacyCodePage { kNone, kCp949, kShiftJis };

// For a text that is not UTF-8: the code page it reads as. When it reads as both, CP949
// wins if most of its two-byte characters lie in the KS X 1001 block (Hangul, hanja and the
// kana all live there), where Japanese Shift-JIS text seldom falls. kNone when it reads as
// neither, or holds fewer than two two-byte characters: one odd character is as likely a
// damaged UTF-8 line.
LegacyCodePage GuessLegacyCodePage(std::string_view s);

}  // namespace mirelo::text

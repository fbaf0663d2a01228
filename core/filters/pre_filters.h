// Filters run on the Shift-JIS source before the engine sees it. Contract of every filter:
// see markers.h. Both walk the text in units: a byte of 0x80 or more followed by a non-zero
// byte is a two-byte unit, any other byte a one-byte unit; no lead-byte table is consulted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mirelo {

// Room for the result of EscapeBrackets on an n-byte source, and of both pre-filters in a row:
// no source byte grows more than sevenfold. Saturates instead of wrapping.
constexpr size_t EscapedCapacity(size_t n) {
    return n > (SIZE_MAX - 1) / 7 ? SIZE_MAX : 7 * n + 1;
}

// Room for the result of EscapeSymbols alone on an n-byte source.
constexpr size_t SymbolEscapedCapacity(size_t n) {
    return n > (SIZE_MAX - 1) / 5 ? SIZE_MAX : 5 * n + 1;
}

// Each one-byte unit ( ) [ ] { } < > : becomes its ByteMarker ("(" -> "_&040&_");
// two-byte units are copied whole, whatever their second byte.
size_t EscapeBrackets(const char* src, char* dst, size_t cap);

// Each two-byte unit found in SymbolEscapeTable becomes the PairMarker of the row's CP949
// bytes (（ 0x81 0x69 -> "_&163168&_"); everything else is copied.
size_t EscapeSymbols(const char* src, char* dst, size_t cap);

struct SymbolEscapeRow {
    uint8_t cp949Lead;
    uint8_t cp949Trail;
    uint8_t sjisLead;
    uint8_t sjisTrail;
};

// Full-width symbols the engine must not see, with the CP949 bytes written for them. Scanned
// from the top up to the first row whose cp949Lead is 0; the last matching row wins.
inline constexpr SymbolEscapeRow SymbolEscapeTable[21] = {
    {0xA1, 0xCD, 0x81, 0x8F},  // ￥ fullwidth yen sign
    {0xA3, 0xC0, 0x81, 0x97},  // ＠ fullwidth commercial at
    {0xA3, 0xA8, 0x81, 0x69},  // （ fullwidth left parenthesis
    {0xA3, 0xA9, 0x81, 0x6A},  // ） fullwidth right parenthesis
    {0xA3, 0xBC, 0x81, 0x83},  // ＜ fullwidth less-than sign
    {0xA3, 0xBE, 0x81, 0x84},  // ＞ fullwidth greater-than sign
    {0xA3, 0xDB, 0x81, 0x6D},  // ［ fullwidth left square bracket
    {0xA3, 0xDD, 0x81, 0x6E},  // ］ fullwidth right square bracket
    {0xA3, 0xFB, 0x81, 0x6F},  // ｛ fullwidth left curly bracket
    {0xA3, 0xFD, 0x81, 0x70},  // ｝ fullwidth right curly bracket
    // These six come out as double prime and prime (the sound marks have no CP949 code).
    // Both live under lead byte 0xA1; 0xA2 would turn them into the filled squares ▥ and ▤.
    {0xA1, 0xC8, 0x81, 0x4A},  // ゛ voiced sound mark   -> ″
    {0xA1, 0xC8, 0x81, 0x4B},  // ゜ semi-voiced mark    -> ″
    {0xA1, 0xC8, 0x81, 0x8D},  // ″ double prime        -> ″
    {0xA1, 0xC7, 0x81, 0x4C},  // ´ acute accent        -> ′
    {0xA1, 0xC7, 0x81, 0x4D},  // ｀ fullwidth grave    -> ′
    {0xA1, 0xC7, 0x81, 0x8C},  // ′ prime               -> ′
    {0xA1, 0xAE, 0x81, 0x65},  // ‘ left single quotation mark
    {0xA1, 0xAF, 0x81, 0x66},  // ’ right single quotation mark
    {0xA1, 0xB0, 0x81, 0x67},  // “ left double quotation mark
    {0xA1, 0xB1, 0x81, 0x68},  // ” right double quotation mark
    {0, 0, 0, 0},
};

}  // namespace mirelo

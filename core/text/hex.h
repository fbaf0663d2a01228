#pragma once
// Hex digits, as percent-escapes and the stand-in engine's scripts write bytes.

namespace mirelo::text {

// 0-15 for a hex digit of either case, -1 for anything else.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace mirelo::text

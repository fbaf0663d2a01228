// Internal to the filters: reading and writing marker digits without the printf family.
#pragma once

#include <array>
#include <cstddef>

#include "filter_output.h"

namespace mirelo::detail {

inline bool IsDigit(Byte c) {
    return static_cast<unsigned>(c - '0') < 10u;
}

// Same answer as MarkerLength; inline so the decoders pay no call per candidate.
inline int MarkerLengthAt(const Byte* p) {
    if (p[0] != '_' || p[1] != '&' || !IsDigit(p[2]) || !IsDigit(p[3]) || !IsDigit(p[4])) return 0;
    if (p[5] == '&') return p[6] == '_' ? 7 : 0;
    if (!IsDigit(p[5]) || !IsDigit(p[6]) || !IsDigit(p[7]) || p[8] != '&' || p[9] != '_') return 0;
    return 10;
}

// The dictionary's name marker "_&DDDDD&_": five digits, so neither MarkerLength shape fits
// it (the sixth byte is a digit, the eighth is not). Answers the number it holds, or -1.
// Reads left to right and stops at the first byte that does not fit, so never past the NUL.
inline constexpr int kNameMarkerLength = 9;
inline constexpr int kNameMarkerLimit = 100000;

inline int NameMarkerAt(const Byte* p) {
    if (p[0] != '_' || p[1] != '&') return -1;
    int v = 0;
    for (int k = 2; k < 7; ++k) {
        if (!IsDigit(p[k])) return -1;
        v = v * 10 + (p[k] - '0');
    }
    return p[7] == '&' && p[8] == '_' ? v : -1;
}

constexpr std::array<char, 10> MakeNameMarker(unsigned index) {
    std::array<char, 10> m{'_', '&', 0, 0, 0, 0, 0, '&', '_', 0};
    for (int k = 6; k >= 2; --k, index /= 10) m[k] = static_cast<char>('0' + index % 10);
    return m;
}

// Three digits already checked; 000..999 taken modulo 256.
inline Byte ReadByteValue(const Byte* d) {
    return static_cast<Byte>((d[0] - '0') * 100 + (d[1] - '0') * 10 + (d[2] - '0'));
}

constexpr void WriteThreeDigits(char* out, unsigned v) {
    out[0] = static_cast<char>('0' + v / 100);
    out[1] = static_cast<char>('0' + v / 10 % 10);
    out[2] = static_cast<char>('0' + v % 10);
}

constexpr std::array<char, 8> MakeByteMarker(unsigned char b) {
    std::array<char, 8> m{'_', '&', 0, 0, 0, '&', '_', 0};
    WriteThreeDigits(m.data() + 2, b);
    return m;
}

constexpr std::array<char, 12> MakePairMarker(unsigned char b1, unsigned char b2) {
    std::array<char, 12> m{'_', '&', 0, 0, 0, 0, 0, 0, '&', '_', 0, 0};
    WriteThreeDigits(m.data() + 2, b1);
    WriteThreeDigits(m.data() + 5, b2);
    return m;
}

}  // namespace mirelo::detail

#pragma once
// Random words for made-up dictionaries, the same in the native and the Wine benchmarks.

#include <random>
#include <string>

namespace mirelo::bench {

// UTF-8 of a character below U+10000.
inline std::string Utf8(char32_t c) {
    std::string s;
    if (c < 0x800) {
        s += static_cast<char>(0xC0 | c >> 6);
    } else {
        s += static_cast<char>(0xE0 | c >> 12);
        s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    }
    s += static_cast<char>(0x80 | (c & 0x3F));
    return s;
}

// minChars to maxChars characters drawn from first..last.
inline std::string Word(std::mt19937& rng, char32_t first, char32_t last, int minChars,
                        int maxChars) {
    std::uniform_int_distribution<int> length(minChars, maxChars);
    std::uniform_int_distribution<char32_t> pick(first, last);
    std::string w;
    for (int n = length(rng); n > 0; --n) w += Utf8(pick(rng));
    return w;
}

}  // namespace mirelo::bench

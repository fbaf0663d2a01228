#include "encoding_guess.h"

#include "multibyte.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace mirelo::text {
namespace {

bool IsCp949Trail(uint8_t lead, uint8_t c) {
    if (c >= 0xA1 && c <= 0xFE) return true;
    return lead <= 0xC6 &&
           ((c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x81 && c <= 0xA0));
}

struct Walk {
    bool valid = true;
    size_t pairs = 0;    // two-byte characters
    size_t wansung = 0;  // of those, both bytes in 0xA1-0xFE
};

Walk WalkShiftJis(std::string_view s) {
    Walk w;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    for (size_t i = 0; i < s.size(); ++i) {
        if (p[i] < 0x80 || (p[i] >= 0xA1 && p[i] <= 0xDF)) continue;
        if (!IsShiftJisLead(p[i]) || i + 1 >= s.size() || !IsShiftJisTrail(p[i + 1]))
            return {false};
        ++w.pairs;
        ++i;
    }
    return w;
}

Walk WalkCp949(std::string_view s) {
    Walk w;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    for (size_t i = 0; i < s.size(); ++i) {
        if (p[i] < 0x80) continue;
        if (p[i] == 0x80 || p[i] == 0xFF || i + 1 >= s.size() || !IsCp949Trail(p[i], p[i + 1]))
            return {false};
        ++w.pairs;
        if (p[i] >= 0xA1 && p[i + 1] >= 0xA1) ++w.wansung;
        ++i;
    }
    return w;
}

}  // namespace

bool IsShiftJisText(std::string_view s) {
    return WalkShiftJis(s).valid;
}

bool IsCp949Text(std::string_view s) {
    return WalkCp949(s).valid;
}

bool LooksLikeUtf16(std::string_view s) {
    if (s.size() >= 2 && (s.substr(0, 2) == "\xFF\xFE" || s.substr(0, 2) == "\xFE\xFF"))
        return true;
    // Looking at the start is enough: a file is written in one encoding.
    const size_t n = std::min<size_t>(s.size(), 4096) & ~size_t{1};
    size_t even = 0, odd = 0;
    for (size_t i = 0; i < n; i += 2) {
        even += s[i] == '\0';
        odd += s[i + 1] == '\0';
    }
    const size_t pairs = n / 2;
    const size_t more = std::max(even, odd), fewer = std::min(even, odd);
    // A stray NUL in a UTF-8 line is not enough: that line is reported on its own.
    return more >= 4 && more * 4 >= pairs && fewer * 8 <= more;
}

LegacyCodePage GuessLegacyCodePage(std::string_view s) {
    const Walk korean = WalkCp949(s);
    const Walk japanese = WalkShiftJis(s);
    const bool cp949 = korean.valid && korean.pairs >= 2;
    const bool sjis = japanese.valid && japanese.pairs >= 2;
    if (cp949 && (!sjis || korean.wansung * 2 > korean.pairs)) return LegacyCodePage::kCp949;
    if (sjis) return LegacyCodePage::kShiftJis;
    return LegacyCodePage::kNone;
}

}  // namespace mirelo::text

// Characters of the two code pages and the Korean particles that follow a name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "multibyte.h"

namespace mirelo::dict {

using Byte = unsigned char;

// The code pages' character walks, under the names the matcher uses.
inline size_t SjisUnit(const Byte* s) {
    return text::ShiftJisCharLength(s);
}
inline size_t Cp949Unit(const Byte* s) {
    return text::Cp949CharLength(s);
}
using SjisUnits = text::ShiftJisChars;
using Cp949Units = text::Cp949Chars;

// A Hangul syllable or jamo in CP949: KS X 1001 syllables (0xB0-0xC8 with 0xA1-0xFE), the
// compatibility jamo row (0xA4), and the extended syllables the code page adds around them.
inline bool IsCp949Hangul(Byte lead, Byte trail) {
    const bool extTrail = (trail >= 0x41 && trail <= 0x5A) || (trail >= 0x61 && trail <= 0x7A) ||
                          (trail >= 0x81 && trail <= 0xFE);
    if (lead >= 0x81 && lead <= 0xA0) return extTrail;
    if ((lead >= 0xB0 && lead <= 0xC8) || lead == 0xA4) {
        if (trail >= 0xA1 && trail <= 0xFE) return true;
    }
    if (lead >= 0xA1 && lead <= 0xC5) return extTrail && trail <= 0xA0;
    if (lead == 0xC6) return trail >= 0x41 && trail <= 0x52;
    return false;
}

// How a name's last syllable ends, which decides the particle after it.
enum class Final : uint8_t { None, Rieul, Other, Unknown };

// From the UTF-8 of a name: the last character decides; Unknown when it is no Hangul
// syllable (particles after it are left as written).
Final FinalOfUtf8(std::string_view utf8);

// If a particle starts at `s` and a non-Hangul character or the end follows it, its length
// in bytes and the form that agrees with `final` (CP949 bytes); otherwise 0.
size_t MatchParticle(const Byte* s, Final final, std::string_view& agreeing);

}  // namespace mirelo::dict

#include "korean.h"

#include <cstring>

namespace mirelo::dict {
namespace {

struct ParticlePair {
    std::string_view afterConsonant;
    std::string_view afterVowel;
    bool rieulTakesVowelForm;  // 으로/로: a syllable ending in ㄹ takes 로
};

// CP949 bytes. The two-syllable forms come first, so 이나 is not taken for 이.
constexpr ParticlePair kPairs[] = {
    {"\xC0\xCC\xB3\xAA", "\xB3\xAA", false},  // 이나 / 나
    {"\xC0\xCC\xB6\xFB", "\xB6\xFB", false},  // 이랑 / 랑
    {"\xC0\xB8\xB7\xCE", "\xB7\xCE", true},   // 으로 / 로
    {"\xC0\xBA", "\xB4\xC2", false},          // 은 / 는
    {"\xC0\xCC", "\xB0\xA1", false},          // 이 / 가
    {"\xC0\xBB", "\xB8\xA6", false},          // 을 / 를
    {"\xB0\xFA", "\xBF\xCD", false},          // 과 / 와
};

bool StartsWith(const Byte* s, std::string_view p) {
    // `s` ends at its NUL, which no particle byte matches.
    for (size_t k = 0; k < p.size(); ++k)
        if (s[k] != static_cast<Byte>(p[k])) return false;
    return true;
}

bool EndsWord(const Byte* s) {
    return s[0] == 0 || Cp949Unit(s) == 1 || !IsCp949Hangul(s[0], s[1]);
}

}  // namespace

Final FinalOfUtf8(std::string_view utf8) {
    // A Hangul syllable U+AC00-U+D7A3 is three bytes, EA B0 80 to ED 9E A3.
    if (utf8.size() < 3) return Final::Unknown;
    const auto* p = reinterpret_cast<const Byte*>(utf8.data() + utf8.size() - 3);
    if ((p[0] & 0xF0) != 0xE0 || (p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
        return Final::Unknown;
    const unsigned cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    if (cp < 0xAC00 || cp > 0xD7A3) return Final::Unknown;
    const unsigned jong = (cp - 0xAC00) % 28;
    if (jong == 0) return Final::None;
    return jong == 8 ? Final::Rieul : Final::Other;
}

size_t MatchParticle(const Byte* s, Final final, std::string_view& agreeing) {
    if (final == Final::Unknown) return 0;
    for (const ParticlePair& pair : kPairs) {
        for (std::string_view form : {pair.afterConsonant, pair.afterVowel}) {
            if (!StartsWith(s, form) || !EndsWord(s + form.size())) continue;
            const bool vowelForm =
                final == Final::None || (final == Final::Rieul && pair.rieulTakesVowelForm);
            agreeing = vowelForm ? pair.afterVowel : pair.afterConsonant;
            return form.size();
        }
    }
    return 0;
}

}  // namespace mirelo::dict

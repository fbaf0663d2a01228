#pragma once
// UTF-8 as the dictionary files, the programs and the server take it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mirelo::text {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view s);

// Bytes of the sequence that `lead` starts, read as a lead byte (1 for ASCII and for bytes
// that cannot start a sequence, so that a walk always moves on).
inline size_t Utf8SequenceLength(uint8_t lead) {
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// The UTF-8 byte order mark, which Notepad writes.
inline bool HasUtf8Bom(std::string_view s) {
    return s.substr(0, 3) == "\xEF\xBB\xBF";
}
inline void StripUtf8Bom(std::string_view& s) {
    if (HasUtf8Bom(s)) s.remove_prefix(3);
}
inline void StripUtf8Bom(std::string& s) {
    if (HasUtf8Bom(s)) s.erase(0, 3);
}

// Appends one character as UTF-8; the caller gives a scalar value (no surrogate, at most
// U+10FFFF).
void AppendUtf8(std::string& out, char32_t c);

}  // namespace mirelo::text

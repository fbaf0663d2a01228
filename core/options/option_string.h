// The host-owned option text: two flags kept as at most two digits.
#pragma once

#include <cstdint>

namespace mirelo {

struct OptionFlags {
    int32_t removeBrackets;   // 0 or 1; on unless byte 0 is '0'
    int32_t removeDupSpaces;  // 0 or 1; on only when byte 1 is '1'
};

// Reads byte 0, and byte 1 only when byte 0 is not NUL; nothing beyond.
// `text` must be non-null.
OptionFlags ParseOptionString(const char* text);

// Writes exactly bytes 0..2 of `text` (room for 3 bytes required). The
// defaults (brackets on, spaces off) come out as the empty text NUL,'0',NUL.
// Any non-zero flag counts as 1.
void WriteOptionString(OptionFlags flags, char* text);

}  // namespace mirelo

// Filters run on the CP949 engine output. Contract of every filter: see markers.h. Both walk
// the text in units like the pre-filters and test only the first byte of a unit for a
// bracket, colon or space. Neither lengthens a text: DecodedCapacity(n) is always enough.
#pragma once

#include <cstddef>

namespace mirelo {

// Removes duplicate spaces, spaces before a comma, and spaces around the corner brackets
// 「 」 『 』 (0xA1 0xB8..0xBB): a run of spaces shrinks to its last space; spaces before a
// comma or a corner bracket vanish; after a corner bracket one space vanishes.
size_t TidySpaces(const char* src, char* dst, size_t cap);

// Removes every group in ( ), { }, [ ] or < > with its content and one space after it, drops
// ':' and turns the ideographic space 0xA1 0xA1 into ' '. Groups do not nest: the first closing
// byte ends one, and a '<' group also ends at ')'. An unclosed group takes the rest of the text.
size_t StripAnnotations(const char* src, char* dst, size_t cap);

}  // namespace mirelo

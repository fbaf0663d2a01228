#pragma once
// Letters in the case Windows compares file names in: a name is folded the way the file system
// upper-cases it (Unicode's simple uppercase mappings of the Basic Multilingual Plane), then
// written in the small letter of that capital, so that ASCII names keep their familiar form.

#include <string>
#include <string_view>

namespace mirelo::games {

// The letter that stands for every letter sharing `c`'s capital; `c` itself for anything else.
// Covers Latin (with Latin-1, Extended-A/B, IPA and Extended Additional), Greek, Cyrillic,
// Armenian, Roman numerals, circled and full-width Latin letters.
char32_t FoldCase(char32_t c);

// `utf8` (which must be valid UTF-8) with every letter folded.
std::string FoldCaseUtf8(std::string_view utf8);

}  // namespace mirelo::games

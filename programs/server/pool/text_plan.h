// Text handling of mirelo-server that needs no Windows: checking UTF-8, cutting text into lines and
// long Shift-JIS lines into pieces the plug-in takes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "program_text.h"
#include "utf8.h"

namespace server {

// Well-formed UTF-8, by the same rule the dictionary files are read with.
inline bool IsValidUtf8(std::string_view s) {
    return mirelo::text::IsUtf8(s);
}

using Line = programs::TextLine<char>;
using programs::SplitLines;

// Cuts Shift-JIS text into pieces of at most `limit` bytes (limit >= 2): after the last
// sentence end (。！？!? and the closing brackets right after it) that leaves a piece within
// the limit, else at the last character boundary within it.
std::vector<std::string_view> SplitShiftJis(std::string_view sjis, std::size_t limit);

}  // namespace server

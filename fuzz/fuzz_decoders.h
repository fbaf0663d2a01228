// Both decoders share their checks; each target names its decoder.
#pragma once

#include <algorithm>

#include "fuzz_support.h"
#include "markers.h"

namespace mirelo::fuzz {

inline void CheckDecoder(FilterFn decoder, const Input& in) {
    const std::string out =
        CheckFilter(decoder, DecodedCapacity(in.text.size()), in.text, in.control);
    FUZZ_CHECK(out.size() <= in.text.size());
    // Markers never end or split a line: no NUL, and no CR or LF the text did not hold.
    FUZZ_CHECK(out.find('\0') == std::string::npos);
    for (char c : {'\r', '\n'}) {
        FUZZ_CHECK(std::count(out.begin(), out.end(), c) <=
                   std::count(in.text.begin(), in.text.end(), c));
    }
    if (in.text.find("_&") == std::string::npos) FUZZ_CHECK(out == in.text);
    FUZZ_CHECK(MarkerLength(nullptr) == 0);
    const auto exact = Exact(in.text);
    const int first = MarkerLength(exact.get());
    FUZZ_CHECK(first == 0 || first == 7 || first == 10);
    FUZZ_CHECK(static_cast<size_t>(first) <= in.text.size());
}

}  // namespace mirelo::fuzz

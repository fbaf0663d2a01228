// Both decoders share their checks; each target names its decoder.
#pragma once

#include "fuzz_support.h"
#include "markers.h"

namespace mirelo::fuzz {

inline void CheckDecoder(FilterFn decoder, const Input& in) {
    const std::string out =
        CheckFilter(decoder, DecodedCapacity(in.text.size()), in.text, in.control);
    FUZZ_CHECK(out.size() <= in.text.size());
    if (in.text.find("_&") == std::string::npos) FUZZ_CHECK(out == in.text);
    FUZZ_CHECK(MarkerLength(nullptr) == 0);
    const auto exact = Exact(in.text);
    const int first = MarkerLength(exact.get());
    FUZZ_CHECK(first == 0 || first == 7 || first == 10);
    FUZZ_CHECK(static_cast<size_t>(first) <= in.text.size());
}

}  // namespace mirelo::fuzz

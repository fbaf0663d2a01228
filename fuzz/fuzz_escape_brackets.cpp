#include "fuzz_support.h"
#include "markers.h"
#include "pre_filters.h"

using namespace mirelo;
using namespace mirelo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in;
    if (!Parse(data, size, in)) return 0;
    const std::string out =
        CheckFilter(EscapeBrackets, EscapedCapacity(in.text.size()), in.text, in.control);

    // No bracket or colon is left as a one-byte unit.
    for (size_t i = 0; i < out.size();) {
        if (IsPairAt(out, i)) {
            i += 2;
            continue;
        }
        FUZZ_CHECK(std::strchr("()[]{}<>:", out[i]) == nullptr);
        ++i;
    }
    if (HasNoMarkerShapes(in.text)) {
        const std::string back =
            CheckFilter(DecodeByteMarkers, DecodedCapacity(out.size()), out, in.control);
        FUZZ_CHECK(back == in.text);
    }
    return 0;
}

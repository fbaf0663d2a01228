#include "fuzz_support.h"
#include "markers.h"
#include "post_filters.h"

using namespace mirelo;
using namespace mirelo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in;
    if (!Parse(data, size, in)) return 0;
    const std::string out =
        CheckFilter(StripAnnotations, DecodedCapacity(in.text.size()), in.text, in.control);
    FUZZ_CHECK(out.size() <= in.text.size());
    // Units come out whole, so no opener, colon or ideographic space survives as a unit.
    for (size_t i = 0; i < out.size();) {
        if (IsPairAt(out, i)) {
            FUZZ_CHECK(out.compare(i, 2, "\xA1\xA1") != 0);
            i += 2;
            continue;
        }
        FUZZ_CHECK(std::strchr("({[<:", out[i]) == nullptr);
        ++i;
    }
    if (in.text.find_first_of("({[<:\xA1") == std::string::npos) FUZZ_CHECK(out == in.text);
    return 0;
}

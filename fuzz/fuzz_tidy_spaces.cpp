#include <algorithm>

#include "fuzz_support.h"
#include "markers.h"
#include "post_filters.h"

using namespace mirelo;
using namespace mirelo::fuzz;

namespace {

std::string WithoutSpaces(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in;
    if (!Parse(data, size, in)) return 0;
    const std::string out =
        CheckFilter(TidySpaces, DecodedCapacity(in.text.size()), in.text, in.control);
    // Only spaces ever go.
    FUZZ_CHECK(WithoutSpaces(out) == WithoutSpaces(in.text));
    if (in.text.find(' ') == std::string::npos) FUZZ_CHECK(out == in.text);
    return 0;
}

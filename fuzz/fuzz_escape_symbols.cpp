#include "fuzz_support.h"
#include "markers.h"
#include "pre_filters.h"

using namespace mirelo;
using namespace mirelo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in;
    if (!Parse(data, size, in)) return 0;
    const std::string out =
        CheckFilter(EscapeSymbols, SymbolEscapedCapacity(in.text.size()), in.text, in.control);
    if (HasNoMarkerShapes(in.text)) {
        const std::string back =
            CheckFilter(DecodePairMarkers, DecodedCapacity(out.size()), out, in.control);
        FUZZ_CHECK(back == MapSymbols(in.text, false));
    }
    return 0;
}

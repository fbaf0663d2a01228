// The whole chain around an engine that answers with its input (copied, or the very buffer),
// or with notes of its own around it.
#include "filter_chain.h"
#include "fuzz_support.h"

using namespace mirelo;
using namespace mirelo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FilterChain chain;  // one per worker, reused like the worker reuses it
    Input in;
    if (!Parse(data, size, in)) return 0;
    if (in.text.size() > kMaxSourceBytes) in.text.resize(kMaxSourceBytes);
    const ChainOptions options{(in.control & 1) != 0, (in.control & 2) != 0};
    const int engine = (in.control >> 2) & 3;

    const auto source = Exact(in.text);
    const char* escaped = chain.Escape(source.get(), options);
    const size_t escapedLength = std::strlen(escaped);
    FUZZ_CHECK(escapedLength < kWorkBufferBytes);
    FUZZ_CHECK(escapedLength <= EscapedCapacity(in.text.size()) - 1);

    std::string output(escaped);
    if (engine == 2) output = "[n] " + output + " (note) <a:b>";
    if (engine == 3) output = output + std::string(40000, ' ') + output;  // longer than a buffer
    const auto engineOutput = Exact(output);
    const char* result = chain.Finish(engine == 1 ? escaped : engineOutput.get(), options);
    const size_t resultLength = std::strlen(result);
    FUZZ_CHECK(resultLength <= output.size());
    FUZZ_CHECK(chain.Capacity() >= output.size() + 1);

    const bool identity = engine <= 1;
    if (identity && !options.removeDupSpaces && HasNoMarkerShapes(in.text)) {
        FUZZ_CHECK(std::string(result) == MapSymbols(in.text, options.removeBrackets));
    }
    return 0;
}

#include "fuzz_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mirelo::fuzz::Input in;
    if (mirelo::fuzz::Parse(data, size, in)) {
        mirelo::fuzz::CheckDecoder(mirelo::DecodeByteMarkers, in);
    }
    return 0;
}

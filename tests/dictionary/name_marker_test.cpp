// The three marker shapes side by side: each text is read by both recognisers, from an
// exact-size buffer, so neither may claim another's shape or read past the NUL.
#include <gtest/gtest.h>

#include "../filters/filter_test_util.h"
#include "marker_format.h"
#include "markers.h"

namespace mirelo {
namespace {

int NameMarker(const char* p) {
    return detail::NameMarkerAt(reinterpret_cast<const detail::Byte*>(p));
}

TEST(NameMarker, NoShapeIsTakenForAnother) {
    struct {
        const char* text;
        int markerLength;  // MarkerLength: the design's two shapes
        int name;          // NameMarkerAt: the index, or -1
    } cases[] = {
        {"_&040&_", 7, -1},
        {"_&163168&_", 10, -1},
        {"_&12345&_", 0, 12345},
        {"_&00000&_x", 0, 0},
        {"_&99999&_", 0, 99999},
        {"_&16316x&_", 0, -1},  // a non-digit in the sixth digit place
        {"_&1234x&_", 0, -1},
        {"_&1234&_", 0, -1},
        {"_&123456&_", 10, -1},
        {"_&12345&", 0, -1},
        {"_&12345_&", 0, -1},
        {"_&12345", 0, -1},  // ends right after five digits
        {"_&1234", 0, -1},
        {"_&", 0, -1},
        {"", 0, -1},
        {"&_12345&_", 0, -1},
    };
    for (const auto& c : cases) {
        test::ExactText text(c.text);
        EXPECT_EQ(MarkerLength(text.get()), c.markerLength) << c.text;
        EXPECT_EQ(NameMarker(text.get()), c.name) << c.text;
    }
}

TEST(NameMarker, TextEndingAfterFiveDigitsDecodesUnchanged) {
    for (auto decode : {DecodePairMarkers, DecodeByteMarkers}) {
        for (const char* text : {"ab_&12345", "ab_&12345&_", "_&16316x&_"}) {
            const auto run = test::RunFilter(decode, text, std::strlen(text) + 1);
            EXPECT_EQ(run.bytes, text);
        }
    }
}

TEST(NameMarker, WriterAndReaderAgree) {
    for (unsigned index : {0u, 7u, 4096u, 99999u}) {
        const auto m = detail::MakeNameMarker(index);
        test::ExactText text(m.data());
        EXPECT_EQ(NameMarker(text.get()), static_cast<int>(index));
        EXPECT_EQ(MarkerLength(text.get()), 0);
    }
}

}  // namespace
}  // namespace mirelo

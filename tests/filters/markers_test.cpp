#include "markers.h"

#include <gtest/gtest.h>

#include <string>

#include "filter_test_util.h"

namespace mirelo {
namespace {

using namespace std::string_literals;
using test::ExactText;

TEST(MarkerLength, RecognisesExactlyTheTwoShapes) {
    struct {
        const char* text;
        int expected;
    } cases[] = {
        {"_&040&_", 7},
        {"_&040&_9", 7},  // what follows the marker plays no part
        {"_&999&_", 7},
        {"_&163168&_", 10},
        {"_&000000&_x", 10},
        {"_&1234567&_", 0},
        {"_&04&_", 0},
        {"_&12345&_", 0},
        {"_&040&", 0},
        {"_&040_&", 0},
        {"_&16316&_", 0},
        {"_&163168&", 0},
        {"_&04", 0},  // ends inside a marker: nothing past the NUL is read
        {"_&", 0},
        {"_", 0},
        {"", 0},
        {"x_&040&_", 0},  // only the byte at the position may start it
        {"__&040&_", 0},
        {"&_040&_", 0},
        {"_&0/0&_", 0},  // the bytes either side of '0'..'9'
        {"_&0:0&_", 0},
        {"_&040&_&041&_", 7},
    };
    for (const auto& c : cases) {
        ExactText text(c.text);
        EXPECT_EQ(MarkerLength(text.get()), c.expected) << c.text;
    }
    EXPECT_EQ(MarkerLength(nullptr), 0);
}

TEST(DecodeByteMarkers, Cases) {
    const test::FilterCase cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"a_&040&_b_&041&_", "a(b)"},
        {"12_&058&_30", "12:30"},
        {"_&163168&_", "_&163168&_"},  // the other form is copied
        {"__&041&_", "_)"},
        {"_&_&058&_", "_&:"},
        {"_&04&_", "_&04&_"},
        {"_&12345&_", "_&12345&_"},
        {"ab_&04", "ab_&04"},
        {"_&040&", "_&040&"},
        {"_&040&__&041&_", "()"},
        {"_&040&_&041&_", "(&041&_"},  // markers cannot share an underscore
        {"_&095&_&065&_", "_&065&_"},  // one pass: decoded bytes are not read again
        {"_&038&_&_&095&_", "&&_"},
        {"_&300&_", ","},  // numbers past 255 wrap
        {"_&999&_", "\xE7"},
        {"_&256&_", "\0"s},
        {"_&000&_", "\0"s},
        {"a_&000&_b", "a\0b"s},  // written and counted; readers stop at it
        {"x_&041&_", "x)"},      // a marker ending the text
        {"\xB0_&041&_\xB0", "\xB0)\xB0"},
        {"\xA3_&058&_", "\xA3:"},  // the search ignores double-byte units
        {"_&_&_&_", "_&_&_&_"},
        {"&&__", "&&__"},
    };
    test::CheckCases(DecodeByteMarkers, DecodedCapacity, cases);
}

TEST(DecodePairMarkers, Cases) {
    const test::FilterCase cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"_&163168&_", "\xA3\xA8"},
        {"_&040&_", "_&040&_"},  // the other form is copied
        {"x_&163168&_y_&163169&_", "x\xA3\xA8y\xA3\xA9"},
        {"_&161200&__&161199&_", "\xA1\xC8\xA1\xC7"},
        {"_&163168&_&163169&_", "\xA3\xA8&163169&_"},
        {"__&163168&_", "_\xA3\xA8"},
        {"_&_&163168&_", "_&\xA3\xA8"},
        {"_&16316&_", "_&16316&_"},
        {"_&1631680&_", "_&1631680&_"},
        {"ab_&163168&", "ab_&163168&"},
        {"ab_&1631", "ab_&1631"},
        {"_&095038&_163168&_", "_&163168&_"},  // one pass
        {"_&300999&_", ",\xE7"},
        {"_&000065&_", "\0A"s},
        {"_&065000&_", "A\0"s},
        {"\xB0\xA1_&163168&_", "\xB0\xA1\xA3\xA8"},
        {"_&040&_&163168&_", "_&040&\xA3\xA8"},  // a ByteMarker's last "_" can open one
    };
    test::CheckCases(DecodePairMarkers, DecodedCapacity, cases);
}

}  // namespace
}  // namespace mirelo

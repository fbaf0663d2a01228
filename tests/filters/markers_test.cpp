#include "markers.h"

#include <gtest/gtest.h>

#include <string>

#include "filter_test_util.h"

namespace mirelo {
namespace {

using namespace std::string_literals;
using test::ExactText;
using test::Hex;

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
        {"_&256&_", "_&256&_"},  // would end the line: stays text
        {"_&000&_", "_&000&_"},
        {"a_&000&_b", "a_&000&_b"},
        {"x_&041&_", "x)"},  // a marker ending the text
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
        {"_&000065&_", "_&000065&_"},  // would end the line: stays text
        {"_&065000&_", "_&065000&_"},
        {"\xB0\xA1_&163168&_", "\xB0\xA1\xA3\xA8"},
        {"_&040&_&163168&_", "_&040&\xA3\xA8"},  // a ByteMarker's last "_" can open one
    };
    test::CheckCases(DecodePairMarkers, DecodedCapacity, cases);
}

// Text that was marker-shaped before the engine saw it must not end or split the line: no
// encoder writes 0x00, CR or LF, so only such text can ask for them, and it stays as written.
TEST(LineBreakingMarkers, StayTextWhileEveryOtherValueStillDecodes) {
    const test::FilterCase byteCases[] = {
        {"a_&000&_b", "a_&000&_b"},
        {"a_&010&_b", "a_&010&_b"},
        {"a_&013&_b", "a_&013&_b"},
        {"a_&256&_b", "a_&256&_b"},  // wraps to 0x00
        {"a_&266&_b", "a_&266&_b"},  // wraps to LF
        {"a_&269&_b", "a_&269&_b"},  // wraps to CR
        {"a_&512&_b", "a_&512&_b"},
        {"a_&768&_b", "a_&768&_b"},
        {"a_&065&_b", "aAb"},
        {"a_&009&_b", "a\tb"},  // the neighbours of LF and CR still decode
        {"a_&011&_b",
         "a\x0B"
         "b"},
        {"a_&012&_b",
         "a\x0C"
         "b"},
        {"a_&014&_b",
         "a\x0E"
         "b"},
        {"a_&001&_b",
         "a\x01"
         "b"},
        {"a_&255&_b",
         "a\xFF"
         "b"},
        {"a_&257&_b",
         "a\x01"
         "b"},
        // A kept marker is copied whole: its last underscore cannot open the next one, as
        // a decoded marker's cannot.
        {"_&000&_&040&_", "_&000&_&040&_"},
        {"_&000&__&040&_", "_&000&_("},
        {"_&040&__&010&__&041&_", "(_&010&_)"},
        {"_&010&_&_&041&_", "_&010&_&)"},
        {"\xB0\xA1_&013&_\xB0\xA1", "\xB0\xA1_&013&_\xB0\xA1"},
        {"_&000065&_", "_&000065&_"},  // the other form is copied whatever it holds
    };
    test::CheckCases(DecodeByteMarkers, DecodedCapacity, byteCases);

    const test::FilterCase pairCases[] = {
        {"a_&000065&_b", "a_&000065&_b"},
        {"a_&065000&_b", "a_&065000&_b"},
        {"a_&010065&_b", "a_&010065&_b"},
        {"a_&065013&_b", "a_&065013&_b"},
        {"a_&256065&_b", "a_&256065&_b"},  // wraps to 0x00
        {"a_&065266&_b", "a_&065266&_b"},  // wraps to LF
        {"a_&000000&_b", "a_&000000&_b"},
        {"a_&065066&_b", "aABb"},
        {"a_&163168&_b",
         "a\xA3\xA8"
         "b"},
        {"a_&009011&_b",
         "a\t\x0B"
         "b"},
        {"_&065000&_&163168&_", "_&065000&_&163168&_"},
        {"_&065000&__&163168&_", "_&065000&_\xA3\xA8"},
        {"_&000&_", "_&000&_"},  // the other form is copied whatever it holds
    };
    test::CheckCases(DecodePairMarkers, DecodedCapacity, pairCases);
}

// Slips a maintainer could make in the search: a marker right after an underscore (a name
// such as HP_ミレイ protected by the dictionary becomes "HP__&00000&_"), after a failed
// "_&", after a marker of the other form, at the very end, and markers back to back.
TEST(MarkerSearch, FindsMarkersWhereverTheSearchResumes) {
    const test::FilterCase byteCases[] = {
        {"HP__&040&_", "HP_("},
        {"HP___&040&_", "HP__("},
        {"HP__&00000&_", "HP__&00000&_"},  // a name marker is neither form
        {"HP__&00000&__&041&_", "HP__&00000&_)"},
        {"_&4_&040&_", "_&4("},
        {"_&04_&040&_", "_&04("},
        {"_&040_&041&_", "_&040)"},
        {"_&163168&__&040&_", "_&163168&_("},
        {"_&1631_&040&_", "_&1631("},
        {"&_&040&_", "&("},
        {"_&040&_", "("},
        {"_&040&__&041&__&058&_", "():"},
        {"x_&04", "x_&04"},
        {"x_&040&", "x_&040&"},
        {"x_", "x_"},
    };
    test::CheckCases(DecodeByteMarkers, DecodedCapacity, byteCases);

    const test::FilterCase pairCases[] = {
        {"HP__&163168&_", "HP_\xA3\xA8"},
        {"HP__&00000&_", "HP__&00000&_"},
        {"_&040&__&163168&_", "_&040&_\xA3\xA8"},
        {"_&1631_&163168&_", "_&1631\xA3\xA8"},
        {"_&163168&__&163169&_", "\xA3\xA8\xA3\xA9"},
        {"x_&163168", "x_&163168"},
        {"x_&163168&", "x_&163168&"},
    };
    test::CheckCases(DecodePairMarkers, DecodedCapacity, pairCases);
}

// Every capacity from 1 to the exact size the result needs, around a decoded marker and a
// kept one: the kept text is cut like any text, never half-decoded.
TEST(MarkerCuts, EveryCapacityUpToTheExactSizeKeepsAPrefix) {
    struct {
        test::FilterFn decode;
        const char* input;
        std::string whole;
    } cases[] = {
        {DecodeByteMarkers, "a_&040&_b_&000&_c", "a(b_&000&_c"},
        {DecodeByteMarkers, "_&010&__&041&_", "_&010&_)"},
        {DecodePairMarkers, "a_&163168&_b_&065010&_c",
         "a\xA3\xA8"
         "b_&065010&_c"},
        {DecodePairMarkers, "_&000065&__&163169&_", "_&000065&_\xA3\xA9"},
    };
    for (const auto& c : cases) {
        for (size_t cap = 1; cap <= c.whole.size() + 1; ++cap) {
            const auto run = test::RunFilter(c.decode, c.input, cap);
            const size_t kept = cap - 1 < c.whole.size() ? cap - 1 : c.whole.size();
            EXPECT_EQ(Hex(run.bytes), Hex(c.whole.substr(0, kept))) << c.input << " cap " << cap;
            EXPECT_EQ(run.ret, c.whole.size()) << c.input << " cap " << cap;
        }
    }
}

}  // namespace
}  // namespace mirelo

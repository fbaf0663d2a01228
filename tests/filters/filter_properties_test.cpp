// Contract and properties shared by every filter, checked on seeded random texts.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "filter_test_util.h"
#include "markers.h"
#include "post_filters.h"
#include "pre_filters.h"

namespace mirelo {
namespace {

using test::ExactText;
using test::Hex;

struct NamedFilter {
    const char* name;
    test::FilterFn fn;
    size_t (*capacity)(size_t);
};

const NamedFilter kFilters[] = {
    {"EscapeBrackets", EscapeBrackets, EscapedCapacity},
    {"EscapeSymbols", EscapeSymbols, SymbolEscapedCapacity},
    {"TidySpaces", TidySpaces, DecodedCapacity},
    {"StripAnnotations", StripAnnotations, DecodedCapacity},
    {"DecodePairMarkers", DecodePairMarkers, DecodedCapacity},
    {"DecodeByteMarkers", DecodeByteMarkers, DecodedCapacity},
};

// Random texts made mostly of bytes that some filter cares about.
class TextMaker {
  public:
    explicit TextMaker(uint32_t seed) : rng_(seed) {}

    std::string Make(size_t maxLength) {
        static const char* const kPieces[] = {
            "(",        ")",        "[",          "]",        "{",        "}",        "<",
            ">",        ":",        " ",          " ",        ",",        "_",        "&",
            "_&",       "0",        "1",          "2",        "5",        "9",        "a",
            "\x81",     "\xA1",     "\xB1",       "\xFF",     "\x80",     "\x81\x69", "\x81\x4A",
            "\x81\x5B", "\x81\x8F", "\xA1\xB8",   "\xA1\xBB", "\xA1\xA1", "\xB0\x29", "\xB0\x20",
            "\x82\xA0", "_&040&_",  "_&163168&_", "_&999&_",
        };
        std::string text;
        const size_t length = Pick(maxLength + 1);
        while (text.size() < length) {
            if (Pick(4) == 0) {
                text += static_cast<char>(1 + Pick(255));
            } else {
                text += kPieces[Pick(std::size(kPieces))];
            }
        }
        return text;
    }

    size_t Pick(size_t bound) { return std::uniform_int_distribution<size_t>(0, bound - 1)(rng_); }

  private:
    std::mt19937 rng_;
};

// No "_&" is followed by a digit, so no marker can start in the source's own bytes.
std::string WithoutMarkerShapes(std::string text) {
    for (size_t p = text.find("_&"); p != std::string::npos; p = text.find("_&", p + 1)) {
        if (p + 2 < text.size() && text[p + 2] >= '0' && text[p + 2] <= '9') text[p + 2] = 'x';
    }
    return text;
}

std::string Filtered(test::FilterFn fn, const std::string& input, size_t cap) {
    return test::RunFilter(fn, input, cap).bytes;
}

TEST(FilterContract, NullArgumentsAndZeroCapacityWriteNothing) {
    for (const auto& f : kFilters) {
        char dst[4] = {'x', 'x', 'x', 'x'};
        EXPECT_EQ(f.fn(nullptr, dst, sizeof dst), 0u) << f.name;
        EXPECT_EQ(f.fn("(a)", nullptr, 16), 0u) << f.name;
        EXPECT_EQ(f.fn("(a)", dst, 0), 0u) << f.name;
        EXPECT_EQ(std::string(dst, 4), "xxxx") << f.name;
    }
}

TEST(FilterContract, EmptySourceWritesOneNul) {
    for (const auto& f : kFilters) {
        char dst[3] = {'x', 'x', 'x'};
        ExactText empty("");
        EXPECT_EQ(f.fn(empty.get(), dst, sizeof dst), 0u) << f.name;
        EXPECT_EQ(dst[0], '\0') << f.name;
        EXPECT_EQ(dst[1], 'x') << f.name;
    }
}

// Hand-picked cuts: inside a marker, between the bytes of a pair, at a space taken back.
TEST(FilterContract, ACutResultIsAPrefixWithTheFullLength) {
    struct {
        test::FilterFn filter;
        const char* input;
        size_t cap;
        std::string kept;
        size_t ret;
    } cases[] = {
        {EscapeBrackets, "((", 5, "_&04", 14},
        {EscapeBrackets, "((", 14, "_&040&__&040&", 14},
        {EscapeBrackets, "((", 15, "_&040&__&040&_", 14},
        {EscapeBrackets, "\x81(", 2, "\x81", 2},
        {EscapeSymbols, "a\x81\x69", 6, "a_&16", 11},
        {EscapeSymbols, "\x82\xA0\x82\xA0", 4, "\x82\xA0\x82", 4},
        {DecodeByteMarkers, "a_&040&_b", 3, "a(", 3},
        {DecodePairMarkers, "_&163168&_", 2, "\xA3", 2},
        {DecodePairMarkers, "_&163168&_", 1, "", 2},
        {TidySpaces, "ab \xA1\xB8", 3, "ab", 4},  // the space taken back lay past the cut
        {TidySpaces, "ab \xA1\xB8", 4, "ab\xA1", 4},
        {TidySpaces, "a \xA1\xB8", 3, "a\xA1", 3},
        {StripAnnotations, "ab(c)d", 3, "ab", 3},
        {StripAnnotations, "\xA1\xA1\xA1\xA1x", 2, " ", 3},
    };
    for (const auto& c : cases) {
        const auto run = test::RunFilter(c.filter, c.input, c.cap);
        EXPECT_EQ(Hex(run.bytes), Hex(c.kept)) << Hex(c.input) << " cap " << c.cap;
        EXPECT_EQ(run.ret, c.ret) << Hex(c.input) << " cap " << c.cap;
    }
}

// Whatever the capacity, a filter writes the same bytes as with room to spare, cut to cap-1,
// reports the same full length, and leaves every byte past cap alone.
TEST(FilterProperties, EveryCapacityGivesAPrefixAndNothingPastIt) {
    constexpr size_t kGuard = 32;
    TextMaker maker(20261207);
    for (int iteration = 0; iteration < 3000; ++iteration) {
        const std::string input = maker.Make(40);
        ExactText src(input);
        for (const auto& f : kFilters) {
            const size_t roomy = f.capacity(input.size());
            std::vector<char> full(roomy);
            const size_t fullLength = f.fn(src.get(), full.data(), roomy);
            ASSERT_LT(fullLength, roomy) << f.name << " " << Hex(input);
            ASSERT_EQ(full[fullLength], '\0');

            const size_t cap = 1 + maker.Pick(fullLength + 2);
            std::vector<char> dst(cap + kGuard, '\x5A');
            const size_t ret = f.fn(src.get(), dst.data(), cap);
            ASSERT_EQ(ret, fullLength) << f.name << " cap " << cap << " " << Hex(input);
            const size_t kept = ret < cap ? ret : cap - 1;
            ASSERT_EQ(std::string(dst.data(), kept), std::string(full.data(), kept))
                << f.name << " cap " << cap << " " << Hex(input);
            ASSERT_EQ(dst[kept], '\0') << f.name;
            for (size_t g = cap; g < cap + kGuard; ++g) {
                ASSERT_EQ(dst[g], '\x5A') << f.name << " wrote past cap " << cap;
            }
        }
    }
}

TEST(FilterProperties, ByteMarkersRestoreWhatEscapeBracketsEscaped) {
    TextMaker maker(7);
    for (int iteration = 0; iteration < 5000; ++iteration) {
        const std::string input = WithoutMarkerShapes(maker.Make(60));
        const std::string escaped = Filtered(EscapeBrackets, input, EscapedCapacity(input.size()));
        const std::string back =
            Filtered(DecodeByteMarkers, escaped, DecodedCapacity(escaped.size()));
        ASSERT_EQ(Hex(back), Hex(input));
    }
}

// The expected result walks the units itself and maps table symbols by their row.
std::string MapSymbols(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead >= 0x80 && i + 1 < text.size()) {
            std::string unit = text.substr(i, 2);
            for (const SymbolEscapeRow* row = SymbolEscapeTable; row->cp949Lead; ++row) {
                if (row->sjisLead == lead &&
                    row->sjisTrail == static_cast<unsigned char>(text[i + 1]))
                    unit = {char(row->cp949Lead), char(row->cp949Trail)};
            }
            out += unit;
            i += 2;
        } else {
            out += text[i++];
        }
    }
    return out;
}

TEST(FilterProperties, PairMarkersGiveEachSymbolItsCp949Bytes) {
    TextMaker maker(11);
    for (int iteration = 0; iteration < 5000; ++iteration) {
        const std::string input = WithoutMarkerShapes(maker.Make(60));
        const std::string marked =
            Filtered(EscapeSymbols, input, SymbolEscapedCapacity(input.size()));
        const std::string back =
            Filtered(DecodePairMarkers, marked, DecodedCapacity(marked.size()));
        ASSERT_EQ(Hex(back), Hex(MapSymbols(input))) << Hex(input);
    }
}

}  // namespace
}  // namespace mirelo

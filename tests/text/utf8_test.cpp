// The strict UTF-8 check that dictionary files, the programs' input and the server share.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "../filters/filter_test_util.h"
#include "utf8.h"

namespace mirelo::text {
namespace {

using mirelo::test::Hex;

// The first and last byte sequences of each length, and just past them.
TEST(Utf8, CheckAcceptsExactlyTheShortestForms) {
    struct {
        const char* bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"\x7F", true},
        {"\x80", false},  // a continuation byte alone
        {"\xC1\xBF", false},
        {"\xC2\x80", true},
        {"\xDF\xBF", true},
        {"\xC3\x28", false},
        {"\xE0\x9F\xBF", false},  // U+07FF in three bytes
        {"\xE0\x80\xAF", false},
        {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},
        {"\xED\xA0\x80", false},  // the first surrogate
        {"\xEE\x80\x80", true},
        {"\xEF\xBF\xBF", true},
        {"\xE3\x81\x41", false},
        {"\xE3\x81", false},
        {"\xF0\x8F\xBF\xBF", false},  // U+FFFF in four bytes
        {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xF4\x90\x80\x80", false},  // past U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\xF0\x90\x80\x41", false},
        {"\xF0\x90\x80", false},
        {"a\xE3\x81\x82"
         "b",
         true},
    };
    for (const auto& c : cases) {
        const std::string s = c.bytes;
        EXPECT_EQ(IsUtf8(s), c.valid) << Hex(s);
        // Cut one byte short, a valid sequence of more than one byte is not.
        if (c.valid && s.size() > 1 && static_cast<unsigned char>(s.back()) >= 0x80) {
            EXPECT_FALSE(IsUtf8(s.substr(0, s.size() - 1))) << Hex(s);
        }
    }
}

// A view into a larger text may end inside a character with no terminator behind it: the
// check must say no without reading on. Each prefix lies in a buffer of its own exact size,
// so that the sanitizer sees a read one byte too far.
TEST(Utf8, ViewEndingInsideACharacterIsRejectedWithoutReadingPastIt) {
    const std::string whole[] = {"\xC2\x80", "a\xE3\x81\x82", "\xED\x9F\xBF", "\xF0\x90\x80\x80",
                                 "ab\xF4\x8F\xBF\xBF"};
    for (const std::string& s : whole) {
        for (size_t n = 1; n <= s.size(); ++n) {
            const auto exact = std::make_unique<char[]>(n);
            std::memcpy(exact.get(), s.data(), n);
            const bool inside = n < s.size() && static_cast<unsigned char>(s[n - 1]) >= 0x80;
            EXPECT_EQ(IsUtf8(std::string_view(exact.get(), n)), !inside) << Hex(s.substr(0, n));
        }
    }
}

// Name markers hold five digits: past 100000 names the ones read last are left out, each
// reported, and the others still work.

}  // namespace
}  // namespace mirelo::text

#include "post_filters.h"

#include <gtest/gtest.h>

#include <string>

#include "filter_test_util.h"
#include "markers.h"

namespace mirelo {
namespace {

// 「 」 『 』 in CP949
#define LC "\xA1\xB8"
#define RC "\xA1\xB9"
#define LW "\xA1\xBA"
#define RW "\xA1\xBB"

TEST(TidySpaces, Cases) {
    const test::FilterCase cases[] = {
        {"", ""},
        {" ", " "},
        {"a  b", "a b"},
        {"a , b", "a, b"},
        {"a   ,b", "a,b"},
        {"a  ,  ,b", "a,,b"},
        {"a  ", "a "},
        {"x " LC "y" RC " z", "x" LC "y" RC "z"},
        {"a  " LC, "a" LC},
        {"  " LC, LC},
        {LC "   b", LC " b"},
        {LC " ", LC},
        {RC " " LC, RC LC},
        {LW " " RW, LW RW},
        {"a " RW " b", "a" RW "b"},
        {"a  " RW "  b", "a" RW " b"},
        {"a ," LC, "a," LC},               // only a space is taken back
        {"a \xA1\xB7 b", "a \xA1\xB7 b"},  // just outside the corner brackets
        {"a \xA1\xBC b", "a \xA1\xBC b"},
        {"a\xA1", "a\xA1"},      // a lone 0xA1 at the end
        {"\xB0  b", "\xB0  b"},  // 0x20 as a second byte opens no run
        {"a \xB0,", "a \xB0,"},  // nor is 0x2C as a second byte a comma
        {"_&040&_ _&041&_", "_&040&_ _&041&_"},
        {"\xB0\xA1\xB8 x", "\xB0\xA1\xB8 x"},  // 0xA1 0xB8 hidden behind a lead byte
    };
    test::CheckCases(TidySpaces, DecodedCapacity, cases);
}

TEST(StripAnnotations, Cases) {
    const test::FilterCase cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"word (note) next", "word next"},
        {"word (note)", "word "},
        {"a{b}c", "ac"},
        {"[x]  y", " y"},
        {"(a) (b) c", "c"},
        {"12:30", "1230"},
        {"a:b(c):d", "abd"},
        {"a (open", "a "},
        {"(", ""},
        {"x)", "x)"},
        {"a}b]c>", "a}b]c>"},
        {"<a)b>", "b>"},  // an angle group also ends at ')'
        {"<a>b", "b"},
        {"<a]b>c", "c"},
        {"{a)b}c", "c"},
        {"[a)b]c", "c"},
        {"(a(b)c)", "c)"},       // groups do not nest
        {"a(\xB0\x29)b", "ab"},  // a 0x29 second byte does not close
        {"(\x81)x", ""},
        {"[\x81]x", ""},
        {"(\x81", ""},
        {"\x81:", "\x81:"},
        {"\xA1\xA1", " "},
        {"a\xA1\xA1\xA1", "a \xA1"},
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1"},
        {"a(\xA1\xA1)b", "ab"},
        {"\xA1", "\xA1"},
        {"_&040&_x_&041&_", "_&040&_x_&041&_"},  // the source's own brackets, escaped
        {"(_&040&_)", ""},
        {"_&058&_:", "_&058&_"},
    };
    test::CheckCases(StripAnnotations, DecodedCapacity, cases);
}

}  // namespace
}  // namespace mirelo

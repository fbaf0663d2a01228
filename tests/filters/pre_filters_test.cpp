#include "pre_filters.h"

#include <gtest/gtest.h>

#include <string>

#include "filter_test_util.h"
#include "markers.h"

namespace mirelo {
namespace {

using test::Hex;
using test::RunFilter;

TEST(EscapeBrackets, Cases) {
    const test::FilterCase cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"a(b)", "a_&040&_b_&041&_"},
        {"12:30", "12_&058&_30"},
        {"x<y>", "x_&060&_y_&062&_"},
        {"[]{}", "_&091&__&093&__&123&__&125&_"},
        {"((", "_&040&__&040&_"},
        {"\x81\x5B", "\x81\x5B"},          // ー: its 0x5B is no '['
        {"\xB1(", "\xB1("},                // half-width ｱ pairs with what follows
        {"\xB1\x81\x69", "\xB1\x81\x69"},  // ｱ then （: walked as 0xB1 0x81, 0x69
        {"\x80:\xA0<\xFD>\xFF{", "\x80:\xA0<\xFD>\xFF{"},
        {"a\x81", "a\x81"},  // a lead byte right before the end stands alone
        {"(\x81", "_&040&_\x81"},
        {"\x81\x81(", "\x81\x81_&040&_"},
        {"_&065&_", "_&065&_"},    // marker-shaped source passes
        {"\x81\x69", "\x81\x69"},  // symbols are the other filter's
        {"a_&(", "a_&_&040&_"},
    };
    test::CheckCases(EscapeBrackets, EscapedCapacity, cases);
}

TEST(EscapeSymbols, Cases) {
    const test::FilterCase cases[] = {
        {"", ""},
        {"abc(", "abc("},
        {"\x81\x69", "_&163168&_"},
        {"\x81\x4A", "_&161200&_"},        // ゛ -> ″
        {"\x81\x4C", "_&161199&_"},        // ´ -> ′
        {"\x82\xA0", "\x82\xA0"},          // あ is not in the table
        {"\xB1\x81\x69", "\xB1\x81\x69"},  // ｱ swallows the lead byte of （
        {"\x81\x69\x81", "_&163168&_\x81"},
        {"\x81", "\x81"},
        {"x\x81\x69y\x81\x6Az", "x_&163168&_y_&163169&_z"},
        {"_&040&_\x81\x97", "_&040&__&163192&_"},
        {"\x81\x81\x69", "\x81\x81\x69"},
        {"\x82\x69\x81\x5B", "\x82\x69\x81\x5B"},
        {"\x81\x69\x81\x69", "_&163168&__&163168&_"},
    };
    test::CheckCases(EscapeSymbols, SymbolEscapedCapacity, cases);
}

// Generated from the code pages with Python's codecs: source.encode('cp932') and
// written.encode('cp949').
struct SymbolRow {
    const char* sjis;
    const char* source;
    const char* cp949;
    const char* marker;
    const char* written;
};
const SymbolRow kCodePageRows[] = {
    {"\x81\x8F", "fullwidth yen sign", "\xA1\xCD", "_&161205&_", "fullwidth yen sign"},
    {"\x81\x97", "fullwidth commercial at", "\xA3\xC0", "_&163192&_", "fullwidth commercial at"},
    {"\x81\x69", "fullwidth left parenthesis", "\xA3\xA8", "_&163168&_",
     "fullwidth left parenthesis"},
    {"\x81\x6A", "fullwidth right parenthesis", "\xA3\xA9", "_&163169&_",
     "fullwidth right parenthesis"},
    {"\x81\x83", "fullwidth less-than sign", "\xA3\xBC", "_&163188&_", "fullwidth less-than sign"},
    {"\x81\x84", "fullwidth greater-than sign", "\xA3\xBE", "_&163190&_",
     "fullwidth greater-than sign"},
    {"\x81\x6D", "fullwidth left square bracket", "\xA3\xDB", "_&163219&_",
     "fullwidth left square bracket"},
    {"\x81\x6E", "fullwidth right square bracket", "\xA3\xDD", "_&163221&_",
     "fullwidth right square bracket"},
    {"\x81\x6F", "fullwidth left curly bracket", "\xA3\xFB", "_&163251&_",
     "fullwidth left curly bracket"},
    {"\x81\x70", "fullwidth right curly bracket", "\xA3\xFD", "_&163253&_",
     "fullwidth right curly bracket"},
    {"\x81\x4A", "katakana-hiragana voiced sound mark", "\xA1\xC8", "_&161200&_", "double prime"},
    {"\x81\x4B", "katakana-hiragana semi-voiced sound mark", "\xA1\xC8", "_&161200&_",
     "double prime"},
    {"\x81\x8D", "double prime", "\xA1\xC8", "_&161200&_", "double prime"},
    {"\x81\x4C", "acute accent", "\xA1\xC7", "_&161199&_", "prime"},
    {"\x81\x4D", "fullwidth grave accent", "\xA1\xC7", "_&161199&_", "prime"},
    {"\x81\x8C", "prime", "\xA1\xC7", "_&161199&_", "prime"},
    {"\x81\x65", "left single quotation mark", "\xA1\xAE", "_&161174&_",
     "left single quotation mark"},
    {"\x81\x66", "right single quotation mark", "\xA1\xAF", "_&161175&_",
     "right single quotation mark"},
    {"\x81\x67", "left double quotation mark", "\xA1\xB0", "_&161176&_",
     "left double quotation mark"},
    {"\x81\x68", "right double quotation mark", "\xA1\xB1", "_&161177&_",
     "right double quotation mark"},
};

TEST(SymbolEscapeTable, MatchesTheCodePages) {
    ASSERT_EQ(std::size(kCodePageRows), 20u);
    for (size_t r = 0; r < 20; ++r) {
        const SymbolEscapeRow& row = SymbolEscapeTable[r];
        const SymbolRow& want = kCodePageRows[r];
        const std::string sjis{char(row.sjisLead), char(row.sjisTrail)};
        const std::string cp949{char(row.cp949Lead), char(row.cp949Trail)};
        EXPECT_EQ(Hex(sjis), Hex(want.sjis)) << "row " << r << " " << want.source;
        EXPECT_EQ(Hex(cp949), Hex(want.cp949)) << "row " << r << " " << want.written;

        const auto escaped = RunFilter(EscapeSymbols, want.sjis, 64);
        EXPECT_EQ(escaped.bytes, want.marker) << want.source;
        const auto decoded = RunFilter(DecodePairMarkers, escaped.bytes, 64);
        EXPECT_EQ(Hex(decoded.bytes), Hex(want.cp949)) << want.source;
    }
    const SymbolEscapeRow& end = SymbolEscapeTable[20];
    EXPECT_EQ(end.cp949Lead | end.cp949Trail | end.sjisLead | end.sjisTrail, 0);
}

// The lookup must answer exactly like a scan of the table rows, for every two-byte unit.
TEST(EscapeSymbols, AgreesWithATableScanOnEveryPair) {
    char dst[16];
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
        for (unsigned trail = 1; trail <= 0xFF; ++trail) {
            const char src[3] = {char(lead), char(trail), 0};
            std::string expected(src, 2);
            for (const SymbolEscapeRow* row = SymbolEscapeTable; row->cp949Lead != 0; ++row) {
                if (row->sjisLead == lead && row->sjisTrail == trail) {
                    char marker[11];
                    snprintf(marker, sizeof marker, "_&%03u%03u&_", row->cp949Lead,
                             row->cp949Trail);
                    expected = marker;
                }
            }
            const size_t ret = EscapeSymbols(src, dst, sizeof dst);
            ASSERT_EQ(std::string(dst, ret), expected) << std::hex << lead << " " << trail;
        }
    }
}

TEST(PreFilters, WorstCaseFitsTheAdvertisedCapacity) {
    const std::string brackets(4096, ':');
    const auto escaped = RunFilter(EscapeBrackets, brackets, EscapedCapacity(4096));
    EXPECT_EQ(escaped.ret, 7u * 4096);
    std::string symbols;
    for (int k = 0; k < 2048; ++k) symbols += "\x81\x69";
    const auto marked = RunFilter(EscapeSymbols, symbols, SymbolEscapedCapacity(4096));
    EXPECT_EQ(marked.ret, 5u * 4096);
    EXPECT_EQ(EscapedCapacity(SIZE_MAX / 2), SIZE_MAX);  // no wrap-around on 32-bit hosts
}

}  // namespace
}  // namespace mirelo

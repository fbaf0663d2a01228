#include "pre_filters.h"

#include <array>

#include "filter_output.h"
#include "markers.h"
#include "marker_format.h"

namespace mirelo {

using detail::Byte;

namespace {

constexpr std::array<bool, 256> MakeBracketSet() {
    std::array<bool, 256> set{};
    for (Byte c : {'(', ')', '[', ']', '{', '}', '<', '>', ':'}) set[c] = true;
    return set;
}

constexpr std::array<std::array<char, 8>, 256> MakeByteMarkers() {
    std::array<std::array<char, 8>, 256> m{};
    for (unsigned b = 0; b < 256; ++b) m[b] = detail::MakeByteMarker(static_cast<Byte>(b));
    return m;
}

constexpr auto kBracketSet = MakeBracketSet();
constexpr auto kByteMarkers = MakeByteMarkers();

constexpr size_t TableRows() {
    size_t rows = 0;
    while (SymbolEscapeTable[rows].cp949Lead != 0) ++rows;
    return rows;
}

// Every row shares one Shift-JIS lead byte, so a lookup on the second byte replaces the row scan.
constexpr Byte kSymbolLead = 0x81;
static_assert([] {
    for (size_t r = 0; r < TableRows(); ++r)
        if (SymbolEscapeTable[r].sjisLead != kSymbolLead) return false;
    return true;
}());

// Per second byte: the PairMarker of the last matching row, or an empty first byte for none.
constexpr std::array<std::array<char, 12>, 256> MakeSymbolMarkers() {
    std::array<std::array<char, 12>, 256> m{};
    for (size_t r = 0; r < TableRows(); ++r) {
        const SymbolEscapeRow& row = SymbolEscapeTable[r];
        m[row.sjisTrail] = detail::MakePairMarker(row.cp949Lead, row.cp949Trail);
    }
    return m;
}

constexpr auto kSymbolMarkers = MakeSymbolMarkers();

}  // namespace

size_t EscapeBrackets(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(src, dst, cap, EscapedCapacity,
                             [](const Byte* s, size_t n, auto& out) {
                                 detail::ForEachUnit(
                                     s, n, [&](Byte lead, Byte trail) { out.Put2(lead, trail); },
                                     [&](Byte c) {
                                         if (kBracketSet[c]) {
                                             out.Copy(kByteMarkers[c].data(), kByteMarkerLength);
                                         } else {
                                             out.Put(c);
                                         }
                                     });
                             });
}

size_t EscapeSymbols(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(
        src, dst, cap, SymbolEscapedCapacity, [](const Byte* s, size_t n, auto& out) {
            detail::ForEachUnit(
                s, n,
                [&](Byte lead, Byte trail) {
                    if (lead == kSymbolLead && kSymbolMarkers[trail][0] != 0) {
                        out.Copy(kSymbolMarkers[trail].data(), kPairMarkerLength);
                    } else {
                        out.Put2(lead, trail);
                    }
                },
                [&](Byte c) { out.Put(c); });
        });
}

}  // namespace mirelo

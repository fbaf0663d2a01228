#include "markers.h"

#include <cstring>

#include "filter_output.h"
#include "marker_format.h"

namespace mirelo {

using detail::Byte;

int MarkerLength(const char* p) {
    return p == nullptr ? 0 : detail::MarkerLengthAt(reinterpret_cast<const Byte*>(p));
}

namespace {

// No encoder writes these, so such a marker was text before the engine saw it.
bool EndsOrSplitsALine(Byte b) {
    return b == '\0' || b == '\r' || b == '\n';
}

// Runs of text between markers are copied whole; the search for "_&" ignores double-byte
// units on purpose (no CP949 second byte is '_' or '&').
template <int K, class Out>
void DecodeMarkers(const Byte* s, size_t n, Out& out) {
    size_t i = 0;  // first byte not yet copied
    size_t j = 0;  // where the search for "_&" goes on
    while (j < n) {
        const void* hit = std::memchr(s + j, '_', n - j);
        if (hit == nullptr) break;
        const size_t p = static_cast<size_t>(static_cast<const Byte*>(hit) - s);
        if (s[p + 1] != '&') {
            j = p + 1;
            continue;
        }
        if (detail::MarkerLengthAt(s + p) != K) {
            j = p + 2;
            continue;
        }
        const Byte first = detail::ReadByteValue(s + p + 2);
        Byte second = 0;
        bool keep = EndsOrSplitsALine(first);
        if constexpr (K == kPairMarkerLength) {
            second = detail::ReadByteValue(s + p + 5);
            keep = keep || EndsOrSplitsALine(second);
        }
        if (keep) {
            // Copied whole like any text, so its last '_' opens no marker either.
            j = p + K;
            continue;
        }
        out.Copy(s + i, p - i);
        if constexpr (K == kPairMarkerLength) {
            out.Put2(first, second);
        } else {
            out.Put(first);
        }
        i = j = p + K;
    }
    out.Copy(s + i, n - i);
}

}  // namespace

size_t DecodePairMarkers(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(
        src, dst, cap, DecodedCapacity,
        [](const Byte* s, size_t n, auto& out) { DecodeMarkers<kPairMarkerLength>(s, n, out); });
}

size_t DecodeByteMarkers(const char* src, char* dst, size_t cap) {
    return detail::RunFilter(
        src, dst, cap, DecodedCapacity,
        [](const Byte* s, size_t n, auto& out) { DecodeMarkers<kByteMarkerLength>(s, n, out); });
}

}  // namespace mirelo

// Escape markers: ASCII runs that carry bytes through the engine untouched.
//   ByteMarker "_&DDD&_"     carries one byte,
//   PairMarker "_&DDDDDD&_"  carries two,
// each DDD a decimal number read modulo 256. Any text of that exact shape is a marker,
// whoever wrote it; '_' and '&' are never escaped.
//
// Every filter that writes (here and in pre_filters.h, post_filters.h) has the same contract:
//   size_t Filter(const char* src, char* dst, size_t cap);
// - `src` is NUL-terminated and is never read past its terminator; `dst` must not overlap it.
// - At most `cap` bytes are written, terminator included. When the whole result fits, it is
//   written with its terminator; otherwise the first cap-1 bytes of it and a NUL.
// - Returns the length of the whole result without the terminator, fitted or not, so
//   `ret < cap` means nothing was cut.
// - Null `src`, null `dst` or `cap` 0: writes nothing, returns 0. Empty `src`: writes one NUL.
// - Stateless and allocation-free; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mirelo {

inline constexpr int kByteMarkerLength = 7;
inline constexpr int kPairMarkerLength = 10;

// Room for the result of a decoder, a TidySpaces or a StripAnnotations run on an n-byte text:
// none of them lengthens a text.
constexpr size_t DecodedCapacity(size_t n) {
    return n == SIZE_MAX ? SIZE_MAX : n + 1;
}

// 7 if a ByteMarker starts at `p`, 10 if a PairMarker does, 0 otherwise and for null.
// Reads left to right and stops at the first byte that does not fit, so never past the NUL.
int MarkerLength(const char* p);

// Every PairMarker becomes its two bytes; everything else, ByteMarkers included, is copied.
// One pass: bytes it wrote are never looked at again. A marker that would give 0x00, CR or LF
// (in either place) stays as it is, text like any other: a line never ends or splits at text
// that merely looked like a marker, and its last '_' opens no marker either.
size_t DecodePairMarkers(const char* src, char* dst, size_t cap);

// Every ByteMarker becomes its byte; everything else, PairMarkers included, is copied.
// Same single-pass rule as DecodePairMarkers, and the same for 0x00, CR and LF.
size_t DecodeByteMarkers(const char* src, char* dst, size_t cap);

}  // namespace mirelo

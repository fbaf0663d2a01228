#include "case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "utf8.h"

namespace mirelo::games {
namespace {

// Code points first..last, taking every `step`th one, fold to themselves plus `delta`. Made from
// Unicode's simple case mappings: a capital folds to its small letter, and a letter with no
// small form of its own (long s, final sigma, dotless i, micro sign) to the small letter of its
// capital.
struct Run {
    char16_t first, last;
    int32_t delta;
    uint8_t step;
};
constexpr Run kRuns[] = {
    {0x0041, 0x005A, 32, 1},   {0x00B5, 0x00B5, 775, 1},  {0x00C0, 0x00D6, 32, 1},
    {0x00D8, 0x00DE, 32, 1},   {0x0100, 0x012E, 1, 2},    {0x0131, 0x0131, -200, 1},
    {0x0132, 0x0136, 1, 2},    {0x0139, 0x0147, 1, 2},    {0x014A, 0x0176, 1, 2},
    {0x0178, 0x0178, -121, 1}, {0x0179, 0x017D, 1, 2},    {0x017F, 0x017F, -268, 1},
    {0x0181, 0x0181, 210, 1},  {0x0182, 0x0184, 1, 2},    {0x0186, 0x0186, 206, 1},
    {0x0187, 0x0187, 1, 1},    {0x0189, 0x018A, 205, 1},  {0x018B, 0x018B, 1, 1},
    {0x018E, 0x018E, 79, 1},   {0x018F, 0x018F, 202, 1},  {0x0190, 0x0190, 203, 1},
    {0x0191, 0x0191, 1, 1},    {0x0193, 0x0193, 205, 1},  {0x0194, 0x0194, 207, 1},
    {0x0196, 0x0196, 211, 1},  {0x0197, 0x0197, 209, 1},  {0x0198, 0x0198, 1, 1},
    {0x019C, 0x019C, 211, 1},  {0x019D, 0x019D, 213, 1},  {0x019F, 0x019F, 214, 1},
    {0x01A0, 0x01A4, 1, 2},    {0x01A6, 0x01A6, 218, 1},  {0x01A7, 0x01A7, 1, 1},
    {0x01A9, 0x01A9, 218, 1},  {0x01AC, 0x01AC, 1, 1},    {0x01AE, 0x01AE, 218, 1},
    {0x01AF, 0x01AF, 1, 1},    {0x01B1, 0x01B2, 217, 1},  {0x01B3, 0x01B5, 1, 2},
    {0x01B7, 0x01B7, 219, 1},  {0x01B8, 0x01B8, 1, 1},    {0x01BC, 0x01BC, 1, 1},
    {0x01C4, 0x01C4, 2, 1},    {0x01C5, 0x01C5, 1, 1},    {0x01C7, 0x01C7, 2, 1},
    {0x01C8, 0x01C8, 1, 1},    {0x01CA, 0x01CA, 2, 1},    {0x01CB, 0x01DB, 1, 2},
    {0x01DE, 0x01EE, 1, 2},    {0x01F1, 0x01F1, 2, 1},    {0x01F2, 0x01F4, 1, 2},
    {0x01F6, 0x01F6, -97, 1},  {0x01F7, 0x01F7, -56, 1},  {0x01F8, 0x021E, 1, 2},
    {0x0220, 0x0220, -130, 1}, {0x0222, 0x0232, 1, 2},    {0x023A, 0x023A, 10795, 1},
    {0x023B, 0x023B, 1, 1},    {0x023D, 0x023D, -163, 1}, {0x023E, 0x023E, 10792, 1},
    {0x0241, 0x0241, 1, 1},    {0x0243, 0x0243, -195, 1}, {0x0244, 0x0244, 69, 1},
    {0x0245, 0x0245, 71, 1},   {0x0246, 0x024E, 1, 2},    {0x0370, 0x0372, 1, 2},
    {0x0376, 0x0376, 1, 1},    {0x037F, 0x037F, 116, 1},  {0x0386, 0x0386, 38, 1},
    {0x0388, 0x038A, 37, 1},   {0x038C, 0x038C, 64, 1},   {0x038E, 0x038F, 63, 1},
    {0x0391, 0x03A1, 32, 1},   {0x03A3, 0x03AB, 32, 1},   {0x03C2, 0x03C2, 1, 1},
    {0x03CF, 0x03CF, 8, 1},    {0x03D0, 0x03D0, -30, 1},  {0x03D1, 0x03D1, -25, 1},
    {0x03D5, 0x03D5, -15, 1},  {0x03D6, 0x03D6, -22, 1},  {0x03D8, 0x03EE, 1, 2},
    {0x03F0, 0x03F0, -54, 1},  {0x03F1, 0x03F1, -48, 1},  {0x03F5, 0x03F5, -64, 1},
    {0x03F7, 0x03F7, 1, 1},    {0x03F9, 0x03F9, -7, 1},   {0x03FA, 0x03FA, 1, 1},
    {0x03FD, 0x03FF, -130, 1}, {0x0400, 0x040F, 80, 1},   {0x0410, 0x042F, 32, 1},
    {0x0460, 0x0480, 1, 2},    {0x048A, 0x04BE, 1, 2},    {0x04C0, 0x04C0, 15, 1},
    {0x04C1, 0x04CD, 1, 2},    {0x04D0, 0x052E, 1, 2},    {0x0531, 0x0556, 48, 1},
    {0x1E00, 0x1E94, 1, 2},    {0x1E9B, 0x1E9B, -58, 1},  {0x1EA0, 0x1EFE, 1, 2},
    {0x2160, 0x216F, 16, 1},   {0x2183, 0x2183, 1, 1},    {0x24B6, 0x24CF, 26, 1},
    {0xFF21, 0xFF3A, 32, 1},
};

}  // namespace

char32_t FoldCase(char32_t c) {
    const auto after = std::upper_bound(std::begin(kRuns), std::end(kRuns), c,
                                        [](char32_t v, const Run& r) { return v < r.first; });
    if (after == std::begin(kRuns)) return c;
    const Run& r = *std::prev(after);
    if (c > r.last || (c - r.first) % r.step != 0) return c;
    return static_cast<char32_t>(static_cast<int32_t>(c) + r.delta);
}

std::string FoldCaseUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (i + n > utf8.size()) break;
        char32_t c = n == 1 ? lead : lead & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (utf8[i + k] & 0x3F);
        text::AppendUtf8(out, FoldCase(c));
        i += n;
    }
    return out;
}

}  // namespace mirelo::games

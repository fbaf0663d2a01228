// Shared by the fuzz targets. Input layout: byte 0 steers the run (capacity, options), the rest
// is the text, which ends at its first NUL like any C string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "pre_filters.h"

namespace mirelo::fuzz {

// Stops the run with a message libFuzzer shows, whatever the build type.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

struct Input {
    uint8_t control = 0;
    std::string text;  // no NUL inside
};

inline bool Parse(const uint8_t* data, size_t size, Input& in) {
    if (size < 1) return false;
    in.control = data[0];
    const char* text = reinterpret_cast<const char*>(data + 1);
    in.text.assign(text, strnlen(text, size - 1));
    return true;
}

// A NUL-terminated copy with no byte to spare, so ASan sees a read past the terminator.
inline std::unique_ptr<char[]> Exact(const std::string& s) {
    std::unique_ptr<char[]> p(new char[s.size() + 1]);
    std::memcpy(p.get(), s.data(), s.size() + 1);
    return p;
}

using FilterFn = size_t (*)(const char*, char*, size_t);

// Runs `filter` with room for its worst case and again with a capacity picked by `control`,
// each into an exact-size heap buffer, and checks the contract. Returns the whole result.
inline std::string CheckFilter(FilterFn filter, size_t worst, const std::string& text,
                               uint8_t control) {
    const auto src = Exact(text);
    std::unique_ptr<char[]> full(new char[worst]);
    const size_t ret = filter(src.get(), full.get(), worst);
    FUZZ_CHECK(ret < worst);
    FUZZ_CHECK(full[ret] == '\0');
    const std::string result(full.get(), ret);

    const size_t cap = 1 + control % (ret + 2);
    std::unique_ptr<char[]> cut(new char[cap]);
    const size_t cutRet = filter(src.get(), cut.get(), cap);
    FUZZ_CHECK(cutRet == ret);
    const size_t kept = ret < cap ? ret : cap - 1;
    FUZZ_CHECK(std::memcmp(cut.get(), full.get(), kept) == 0);
    FUZZ_CHECK(cut[kept] == '\0');
    return result;
}

// True when no '&' is followed by a digit: then no marker can start in the text's own bytes,
// nor borrow a written marker's last underscore.
inline bool HasNoMarkerShapes(const std::string& text) {
    for (size_t p = 0; p + 1 < text.size(); ++p) {
        if (text[p] == '&' && text[p + 1] >= '0' && text[p + 1] <= '9') return false;
    }
    return true;
}

inline bool IsPairAt(const std::string& s, size_t i) {
    return static_cast<unsigned char>(s[i]) >= 0x80 && i + 1 < s.size();
}

// Each table symbol replaced by its CP949 bytes, units walked as the filters walk them.
inline std::string MapSymbols(const std::string& text, bool ideographicSpaceToSpace) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (!IsPairAt(text, i)) {
            out += text[i++];
            continue;
        }
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto trail = static_cast<unsigned char>(text[i + 1]);
        std::string unit = text.substr(i, 2);
        for (const SymbolEscapeRow* row = SymbolEscapeTable; row->cp949Lead != 0; ++row) {
            if (row->sjisLead == lead && row->sjisTrail == trail)
                unit = {static_cast<char>(row->cp949Lead), static_cast<char>(row->cp949Trail)};
        }
        if (ideographicSpaceToSpace && unit == "\xA1\xA1") unit = " ";
        out += unit;
        i += 2;
    }
    return out;
}

}  // namespace mirelo::fuzz

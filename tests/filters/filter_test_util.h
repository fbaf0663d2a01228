// Helpers shared by the filter tests: every input lives in an exact-size heap buffer and every
// destination is exactly as large as the capacity passed, so ASan sees a single stray byte.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace mirelo::test {

using FilterFn = size_t (*)(const char*, char*, size_t);

// A NUL-terminated copy of `text` with no byte to spare.
class ExactText {
  public:
    explicit ExactText(std::string_view text) : bytes_(new char[text.size() + 1]) {
        std::memcpy(bytes_.get(), text.data(), text.size());
        bytes_[text.size()] = '\0';
    }
    const char* get() const { return bytes_.get(); }

  private:
    std::unique_ptr<char[]> bytes_;
};

struct FilterRun {
    std::string bytes;  // the `ret` bytes written before the terminator, embedded NULs included
    size_t ret;
};

// Runs `filter` on `input` into a destination of exactly `cap` bytes and checks the
// contract's promise about where the terminator lands.
inline FilterRun RunFilter(FilterFn filter, std::string_view input, size_t cap) {
    ExactText src(input);
    std::unique_ptr<char[]> dst(new char[cap]);
    std::memset(dst.get(), 0x5A, cap);
    const size_t ret = filter(src.get(), dst.get(), cap);
    const size_t kept = ret < cap ? ret : cap - 1;
    EXPECT_EQ(dst[kept], '\0') << "terminator not at min(ret, cap-1)";
    return {std::string(dst.get(), kept), ret};
}

// Printable form of a byte string for failure messages.
inline std::string Hex(std::string_view s) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    return out;
}

struct FilterCase {
    std::string input;
    std::string expected;
};

// Each case with room for the filter's worst case: the whole result and its length.
template <size_t N>
void CheckCases(FilterFn filter, size_t (*capacity)(size_t), const FilterCase (&cases)[N]) {
    for (const FilterCase& c : cases) {
        const auto run = RunFilter(filter, c.input, capacity(c.input.size()));
        EXPECT_EQ(Hex(run.bytes), Hex(c.expected)) << "input " << Hex(c.input);
        EXPECT_EQ(run.ret, c.expected.size()) << "input " << Hex(c.input);
    }
}

}  // namespace mirelo::test

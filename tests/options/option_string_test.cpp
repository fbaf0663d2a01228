#include "option_string.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

namespace {

using mirelo::OptionFlags;
using mirelo::ParseOptionString;
using mirelo::WriteOptionString;

// Exactly as many bytes as the text holds, so ASan catches a read too far.
OptionFlags ParseExact(const char* bytes, size_t size) {
    auto copy = std::make_unique<char[]>(size);
    std::memcpy(copy.get(), bytes, size);
    return ParseOptionString(copy.get());
}

TEST(ParseOptionString, ReadsEachAcceptedForm) {
    struct {
        const char* text;
        int32_t brackets;
        int32_t spaces;
    } const cases[] = {
        {"", 1, 0},  {"00", 0, 0}, {"01", 0, 1}, {"10", 1, 0}, {"11", 1, 1}, {"0", 0, 0},
        {"1", 1, 0}, {"x", 1, 0},  {"x1", 1, 1}, {"02", 0, 0}, {"0x", 0, 0}, {"\x80\x31", 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        const OptionFlags flags = ParseExact(c.text, std::strlen(c.text) + 1);
        EXPECT_EQ(flags.removeBrackets, c.brackets);
        EXPECT_EQ(flags.removeDupSpaces, c.spaces);
    }
}

TEST(ParseOptionString, EmptyTextIgnoresTheByteAfterItsTerminator) {
    // A stale '1' after the NUL must not switch duplicate-space removal on.
    const char garbage[] = {'\0', '1', '1'};
    const OptionFlags flags = ParseOptionString(garbage);
    EXPECT_EQ(flags.removeBrackets, 1);
    EXPECT_EQ(flags.removeDupSpaces, 0);
    // And with a one-byte buffer the second byte is not read at all (ASan).
    const OptionFlags exact = ParseExact("", 1);
    EXPECT_EQ(exact.removeDupSpaces, 0);
}

TEST(WriteOptionString, WritesTheFourFormsAndReadsThemBack) {
    struct {
        int32_t brackets;
        int32_t spaces;
        std::array<char, 3> bytes;
    } const cases[] = {
        {1, 0, {'\0', '0', '\0'}},
        {1, 1, {'1', '1', '\0'}},
        {0, 0, {'0', '0', '\0'}},
        {0, 1, {'0', '1', '\0'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("flags " + std::to_string(c.brackets) + std::to_string(c.spaces));
        char text[6] = {'?', '?', '?', '#', '#', '#'};
        WriteOptionString({c.brackets, c.spaces}, text);
        EXPECT_EQ(text[0], c.bytes[0]);
        EXPECT_EQ(text[1], c.bytes[1]);
        EXPECT_EQ(text[2], c.bytes[2]);
        for (int i = 3; i < 6; ++i) EXPECT_EQ(text[i], '#') << "byte " << i << " touched";

        const OptionFlags back = ParseOptionString(text);
        EXPECT_EQ(back.removeBrackets, c.brackets);
        EXPECT_EQ(back.removeDupSpaces, c.spaces);
    }
}

TEST(WriteOptionString, RewritesAnAcceptedFormIntoAWrittenOne) {
    // "10" reads as the defaults and is stored back as the empty text.
    char text[4] = "10";
    WriteOptionString(ParseOptionString(text), text);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[1], '0');
    EXPECT_EQ(text[2], '\0');
}

TEST(WriteOptionString, NonZeroFlagCountsAsOne) {
    char text[3] = {};
    WriteOptionString({0, 7}, text);
    EXPECT_STREQ(text, "01");
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "translation_cache.h"

namespace mirelo {
namespace {

TEST(HashText, KnownValues) {
    struct {
        const char* text;
        uint32_t hash;
    } cases[] = {
        {nullptr, 0x00000000}, {"", 0x00000000},         {"a", 0x00000061},
        {"abc", 0x00187163},   {"\x82\xA0", 0xFFFFC11F},  // both bytes count as negative
        {"abcdb", 0x1C58F268},                            // five bytes rotate past 32 bits
        {"qbcda", 0x1C58F268},
    };
    for (const auto& c : cases) {
        if (!c.text) {
            EXPECT_EQ(HashText(nullptr), c.hash);
            continue;
        }
        // An exact-size copy lets ASan catch a read past the terminator.
        size_t size = std::strlen(c.text) + 1;
        auto copy = std::make_unique<char[]>(size);
        std::memcpy(copy.get(), c.text, size);
        EXPECT_EQ(HashText(copy.get()), c.hash) << "text \"" << c.text << "\"";
    }
}

}  // namespace
}  // namespace mirelo

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "cache_probe.h"
#include "heap_hooks.h"
#include "filter_chain.h"
#include "translation_cache.h"

namespace mirelo {
namespace {

// Failing the entry's block (0) or the map node behind it (1); ASan reports a leaked block.
TEST(CacheAllocationFailure, AddEntryReturnsNullAndLeavesTheCacheAsItWas) {
    struct {
        const char* name;
        int failingAllocation;
        bool full;
    } cases[] = {
        {"entry block, room left", 0, false},
        {"map node, room left", 1, false},
        {"entry block, full cache", 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TranslationCache cache(3);
        const uint32_t filled = c.full ? 3 : 2;
        for (uint32_t key = 1; key <= filled; ++key) cache.AddEntry(key, "s", "t");
        const auto before = TranslationCacheProbe::KeysByRecency(cache);

        heap::FailAfter(c.failingAllocation);
        const CacheEntry* added = cache.AddEntry(99, "new", "text");
        heap::FailAfter(-1);

        EXPECT_EQ(added, nullptr);
        EXPECT_EQ(cache.GetCount(), filled);
        EXPECT_TRUE(cache.CheckInvariants());
        EXPECT_EQ(TranslationCacheProbe::KeysByRecency(cache), before);
        EXPECT_EQ(cache.FindEntry(99, "new"), nullptr);
        ASSERT_NE(cache.AddEntry(99, "new", "text"), nullptr);  // works once memory is back
    }
}

// A full cache reuses the victim's map node: a failure there is impossible, and the
// replacement needs only the entry block.
TEST(CacheAllocationFailure, FullCacheNeedsOneAllocationPerLine) {
    TranslationCache cache(2);
    cache.AddEntry(1, "a", "t");
    cache.AddEntry(2, "b", "t");
    heap::FailAfter(1);
    const CacheEntry* added = cache.AddEntry(3, "c", "t");
    const int left = heap::AllocationsBeforeFailure();
    heap::FailAfter(-1);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(TranslationCacheProbe::KeysByRecency(cache), (std::vector<uint32_t>{3, 2}));
}

TEST(CacheAllocationFailure, HitDoesNotAllocate) {
    TranslationCache cache;
    cache.AddEntry(HashText("line"), "line", "T");
    heap::FailAfter(0);
    const CacheEntry* found = cache.FindEntry(HashText("line"), "line");
    heap::FailAfter(-1);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->text(), "T");
}

// The worker answers with the empty text and caches nothing when its buffers cannot be had,
// and caches nothing when they cannot grow for a long engine result: both rest on Complete().
TEST(ChainAllocationFailure, NoBuffersGiveEmptyTextsReportedIncomplete) {
    heap::FailAfter(0);
    FilterChain chain;
    EXPECT_EQ(chain.Capacity(), 0u);
    EXPECT_STREQ(chain.Escape("abc", {true, true}), "");
    EXPECT_FALSE(chain.Complete());
    EXPECT_STREQ(chain.Finish("abc", {true, true}), "");
    EXPECT_FALSE(chain.Complete());
    heap::FailAfter(-1);
    // Once memory is back the chain works again, at its normal size.
    EXPECT_STREQ(chain.Escape("abc", {true, true}), "abc");
    EXPECT_EQ(chain.Capacity(), 7u * 4096 + 1);
}

TEST(ChainAllocationFailure, ALongResultThatCannotGrowTheBuffersIsCutAndReported) {
    FilterChain chain;
    const std::string output(100000, 'k');
    heap::FailAfter(0);
    const std::string result = chain.Finish(output.c_str(), {false, false});
    heap::FailAfter(-1);
    EXPECT_FALSE(chain.Complete());
    EXPECT_LT(result.size(), output.size());
    EXPECT_EQ(result, output.substr(0, result.size()));
    EXPECT_STREQ(chain.Finish("ok", {false, false}), "ok");
    EXPECT_TRUE(chain.Complete());
}

}  // namespace
}  // namespace mirelo

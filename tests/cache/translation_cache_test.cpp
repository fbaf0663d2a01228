#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache_probe.h"
#include "translation_cache.h"

namespace mirelo {
namespace {

std::string Line(uint32_t n) {
    return "line " + std::to_string(n);
}

// Files the text "T:<source>" under the source's hash, as the worker does after a miss.
void File(TranslationCache& cache, const std::string& source) {
    ASSERT_NE(cache.AddEntry(HashText(source.c_str()), source, "T:" + source), nullptr);
}

bool Hits(TranslationCache& cache, const std::string& source) {
    return cache.FindEntry(HashText(source.c_str()), source) != nullptr;
}

TEST(TranslationCache, HitReturnsTheFiledTextNulTerminated) {
    TranslationCache cache;
    const uint32_t key = HashText("\x82\xA0");
    EXPECT_EQ(cache.FindEntry(key, "\x82\xA0"), nullptr);

    std::string text = "\xBE\xC6 ok";
    const CacheEntry* added = cache.AddEntry(key, "\x82\xA0", text);
    ASSERT_NE(added, nullptr);
    text.assign(text.size(), 'x');  // the cache must hold its own copy

    const CacheEntry* found = cache.FindEntry(key, "\x82\xA0");
    ASSERT_EQ(found, added);
    EXPECT_EQ(found->key, key);
    EXPECT_EQ(found->text(), "\xBE\xC6 ok");
    EXPECT_EQ(found->text().data()[found->text().size()], '\0');
    EXPECT_EQ(found->source(), "\x82\xA0");
    EXPECT_EQ(cache.GetCount(), 1u);
    EXPECT_TRUE(cache.CheckInvariants());
}

TEST(TranslationCache, EmptyTranslationIsCachedAndHit) {
    TranslationCache cache;
    const uint32_t key = HashText("abc");
    ASSERT_NE(cache.AddEntry(key, "abc", ""), nullptr);
    const CacheEntry* found = cache.FindEntry(key, "abc");
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(found->text().empty());
    EXPECT_EQ(found->text().data()[0], '\0');
}

TEST(TranslationCache, SourceMustMatchByteForByte) {
    TranslationCache cache;
    ASSERT_NE(cache.AddEntry(7, "abc", "T"), nullptr);
    const char* misses[] = {"ab", "abcd", "abd", "", "ABC"};
    for (const char* source : misses) EXPECT_EQ(cache.FindEntry(7, source), nullptr) << source;
    EXPECT_NE(cache.FindEntry(7, "abc"), nullptr);
    EXPECT_EQ(cache.FindEntry(8, "abc"), nullptr);
}

TEST(TranslationCache, CollidingLinesKeepTheirOwnTranslations) {
    ASSERT_EQ(HashText("abcdb"), HashText("qbcda"));
    const uint32_t key = HashText("abcdb");
    TranslationCache cache(3);
    File(cache, "abcdb");
    File(cache, "x");
    File(cache, "y");

    EXPECT_EQ(cache.FindEntry(key, "qbcda"), nullptr);
    File(cache, "qbcda");  // full, but replaces in place: nothing is evicted
    EXPECT_EQ(cache.GetCount(), 3u);
    EXPECT_TRUE(Hits(cache, "x"));
    EXPECT_TRUE(Hits(cache, "y"));
    EXPECT_EQ(cache.FindEntry(key, "abcdb"), nullptr);
    const CacheEntry* found = cache.FindEntry(key, "qbcda");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->text(), "T:qbcda");
    EXPECT_TRUE(cache.CheckInvariants());
}

TEST(TranslationCache, EvictionOrderAtFullCapacity) {
    struct {
        const char* name;
        bool touchFirst;
        uint32_t evicted, kept;
    } cases[] = {
        {"the first line goes", false, 1, 2},
        {"a touched first line stays, the second goes", true, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TranslationCache cache;
        for (uint32_t n = 1; n <= kCacheCapacity; ++n) File(cache, Line(n));
        ASSERT_EQ(cache.GetCount(), kCacheCapacity);
        if (c.touchFirst) {
            ASSERT_TRUE(Hits(cache, Line(1)));
        }

        File(cache, Line(kCacheCapacity + 1));
        EXPECT_EQ(cache.GetCount(), kCacheCapacity);
        EXPECT_FALSE(Hits(cache, Line(c.evicted)));
        EXPECT_TRUE(Hits(cache, Line(c.kept)));
        EXPECT_TRUE(Hits(cache, Line(kCacheCapacity + 1)));
        EXPECT_TRUE(cache.CheckInvariants());
    }
}

TEST(TranslationCache, RemoveAllLeavesAnEmptyReusableCache) {
    TranslationCache cache(3);
    for (uint32_t n = 1; n <= 5; ++n) File(cache, Line(n));
    cache.RemoveAll();
    EXPECT_EQ(cache.GetCount(), 0u);
    EXPECT_TRUE(cache.CheckInvariants());
    EXPECT_TRUE(TranslationCacheProbe::KeysByRecency(cache).empty());
    EXPECT_FALSE(Hits(cache, Line(5)));

    for (uint32_t n = 1; n <= 4; ++n) File(cache, Line(n));
    EXPECT_EQ(cache.GetCount(), 3u);
    EXPECT_FALSE(Hits(cache, Line(1)));
    EXPECT_TRUE(Hits(cache, Line(4)));
    cache.RemoveAll();
    cache.RemoveAll();
    EXPECT_TRUE(cache.CheckInvariants());
}

TEST(TranslationCache, ZeroCapacityStillHoldsOneEntry) {
    TranslationCache cache(0);
    File(cache, "a");
    File(cache, "b");
    EXPECT_EQ(cache.GetCount(), 1u);
    EXPECT_TRUE(Hits(cache, "b"));
    EXPECT_TRUE(cache.CheckInvariants());
}

TEST(TranslationCache, DefaultCacheKeepsExactlyTenThousandLines) {
    TranslationCache cache;
    for (uint32_t n = 0; n < 10000; ++n) File(cache, Line(n));
    EXPECT_EQ(cache.GetCount(), 10000u);
    EXPECT_TRUE(Hits(cache, Line(0)));  // now the most recent
    File(cache, Line(10000));
    EXPECT_EQ(cache.GetCount(), 10000u);
    EXPECT_TRUE(Hits(cache, Line(0)));
    EXPECT_FALSE(Hits(cache, Line(1)));
    EXPECT_TRUE(Hits(cache, Line(2)));
}

// Whatever the engine returns, the default cache holds at most 64 MiB of text, and a single
// translation over 1 MiB is never kept.
TEST(TranslationCache, DefaultCacheBoundsItsBytes) {
    constexpr size_t kMiB = size_t{1} << 20;
    TranslationCache cache;
    EXPECT_EQ(cache.AddEntry(1, "big", std::string(kMiB + 1, 'x')), nullptr);
    EXPECT_EQ(cache.GetCount(), 0u);

    const std::string text(kMiB - 8, 'y');  // with its source, just under 1 MiB
    for (uint32_t n = 0; n < 70; ++n) {
        const std::string source = "s" + std::to_string(n);
        ASSERT_NE(cache.AddEntry(HashText(source.c_str()), source, text), nullptr);
        EXPECT_LE(cache.GetBytes(), 64 * kMiB);
    }
    EXPECT_GE(cache.GetCount(), 63u);
    EXPECT_LE(cache.GetCount(), 64u);
    EXPECT_EQ(cache.FindEntry(HashText("s0"), "s0"), nullptr);  // the oldest went first
    EXPECT_NE(cache.FindEntry(HashText("s69"), "s69"), nullptr);
    EXPECT_TRUE(cache.CheckInvariants());

    cache.RemoveAll();
    EXPECT_EQ(cache.GetBytes(), 0u);
}

// A small byte budget: a line bigger than the whole budget is answered but not kept, and
// costs the lines already cached nothing; one that just fits pushes the others out.
TEST(TranslationCache, EntryLargerThanTheByteCapacityIsNotKept) {
    TranslationCache cache(10, 100);
    File(cache, "a");  // 1 + 3 bytes
    File(cache, "b");
    const std::string source = "long";
    EXPECT_EQ(cache.AddEntry(HashText("a"), "a", std::string(100, 'x')), nullptr);
    EXPECT_EQ(cache.AddEntry(9, source, std::string(97, 'x')), nullptr);  // 101 bytes
    EXPECT_EQ(cache.GetCount(), 2u);
    EXPECT_EQ(cache.GetBytes(), 8u);
    EXPECT_TRUE(Hits(cache, "a"));
    EXPECT_EQ(cache.FindEntry(HashText("a"), "a")->text(), "T:a");  // not replaced
    EXPECT_TRUE(Hits(cache, "b"));
    EXPECT_TRUE(cache.CheckInvariants());

    ASSERT_NE(cache.AddEntry(9, source, std::string(96, 'x')), nullptr);  // exactly 100
    EXPECT_EQ(cache.GetCount(), 1u);
    EXPECT_EQ(cache.GetBytes(), 100u);
    EXPECT_FALSE(Hits(cache, "a"));
    EXPECT_TRUE(cache.CheckInvariants());

    TranslationCache none(10, 0);
    EXPECT_EQ(none.AddEntry(1, "a", ""), nullptr);
    EXPECT_NE(none.AddEntry(0, "", ""), nullptr);
    EXPECT_TRUE(none.CheckInvariants());
}

}  // namespace
}  // namespace mirelo

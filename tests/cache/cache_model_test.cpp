#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "cache_probe.h"
#include "translation_cache.h"

namespace mirelo {
namespace {

// The obvious LRU: a list in recency order and a map into it.
class ModelCache {
  public:
    struct Item {
        uint32_t key;
        std::string source, text;
    };

    explicit ModelCache(size_t capacity) : m_capacity(capacity) {}

    const Item* Find(uint32_t key, const std::string& source) {
        auto it = m_index.find(key);
        if (it == m_index.end() || it->second->source != source) return nullptr;
        m_order.splice(m_order.begin(), m_order, it->second);
        return &*it->second;
    }

    const Item* Add(uint32_t key, const std::string& source, const std::string& text) {
        if (auto it = m_index.find(key); it != m_index.end()) {
            m_order.erase(it->second);
            m_index.erase(it);
        } else if (m_order.size() >= m_capacity) {
            m_index.erase(m_order.back().key);
            m_order.pop_back();
        }
        m_order.push_front({key, source, text});
        m_index[key] = m_order.begin();
        return &m_order.front();
    }

    void Clear() {
        m_order.clear();
        m_index.clear();
    }

    size_t Size() const { return m_order.size(); }

    std::vector<uint32_t> Keys() const {
        std::vector<uint32_t> keys;
        for (const Item& item : m_order) keys.push_back(item.key);
        return keys;
    }

  private:
    size_t m_capacity;
    std::list<Item> m_order;
    std::map<uint32_t, std::list<Item>::iterator> m_index;
};

std::string RandomBytes(std::mt19937& rng, size_t maxLength) {
    std::uniform_int_distribution<size_t> length(0, maxLength);
    std::uniform_int_distribution<int> byte(1, 255);
    std::string s(length(rng), '\0');
    for (char& c : s) c = static_cast<char>(byte(rng));
    return s;
}

void ExpectSame(const CacheEntry* got, const ModelCache::Item* want, uint64_t step) {
    ASSERT_EQ(got != nullptr, want != nullptr) << "hit/miss differs at step " << step;
    if (!got) return;
    ASSERT_EQ(got->key, want->key) << "step " << step;
    ASSERT_EQ(got->source(), want->source) << "step " << step;
    ASSERT_EQ(got->text(), want->text) << "step " << step;
    ASSERT_EQ(got->text().data()[got->text().size()], '\0') << "step " << step;
}

struct ModelRun {
    uint32_t capacity;
    size_t sources;  // distinct source lines drawn from
    uint32_t keys;   // fewer keys than sources, so lines collide
    uint64_t steps;
    uint64_t fullCheckEvery;  // the list walk is O(n)
    int removeAllPerMillion;
    uint32_t seed;
};

// Without this GoogleTest prints the run's raw bytes, padding included, into the test's name.
void PrintTo(const ModelRun& run, std::ostream* os) {
    *os << "capacity " << run.capacity << ", seed " << run.seed;
}

class CacheModel : public testing::TestWithParam<ModelRun> {};

TEST_P(CacheModel, AgreesWithTheReferenceAfterEveryStep) {
    const ModelRun run = GetParam();
    std::mt19937 rng(run.seed);
    std::vector<std::string> pool(run.sources);
    std::vector<uint32_t> keyOf(run.sources);
    for (size_t i = 0; i < run.sources; ++i) {
        pool[i] = RandomBytes(rng, 24);
        keyOf[i] = static_cast<uint32_t>(i % run.keys);
    }
    std::uniform_int_distribution<size_t> pick(0, run.sources - 1);
    std::uniform_int_distribution<int> perMillion(0, 999999);

    TranslationCache cache(run.capacity);
    ModelCache model(run.capacity);
    uint32_t peak = 0;
    for (uint64_t step = 0; step < run.steps; ++step) {
        const size_t i = pick(rng);
        const int op = perMillion(rng);
        if (op < 700000) {  // the worker's way: find, and file on a miss
            const CacheEntry* got = cache.FindEntry(keyOf[i], pool[i]);
            const ModelCache::Item* want = model.Find(keyOf[i], pool[i]);
            ASSERT_NO_FATAL_FAILURE(ExpectSame(got, want, step));
            if (!got) {
                const std::string text = RandomBytes(rng, 40);
                ASSERT_NO_FATAL_FAILURE(ExpectSame(cache.AddEntry(keyOf[i], pool[i], text),
                                                   model.Add(keyOf[i], pool[i], text), step));
            }
        } else if (op < 900000) {
            ASSERT_NO_FATAL_FAILURE(ExpectSame(cache.FindEntry(keyOf[i], pool[i]),
                                               model.Find(keyOf[i], pool[i]), step));
        } else if (op <
                   1000000 - run.removeAllPerMillion) {  // refiling a line that may still be cached
            const std::string text = RandomBytes(rng, 40);
            ASSERT_NO_FATAL_FAILURE(ExpectSame(cache.AddEntry(keyOf[i], pool[i], text),
                                               model.Add(keyOf[i], pool[i], text), step));
        } else {
            cache.RemoveAll();
            model.Clear();
        }
        ASSERT_EQ(cache.GetCount(), model.Size()) << "step " << step;
        peak = std::max(peak, cache.GetCount());
        if (step % run.fullCheckEvery == 0 || step + 1 == run.steps) {
            ASSERT_TRUE(cache.CheckInvariants()) << "step " << step;
            ASSERT_EQ(TranslationCacheProbe::KeysByRecency(cache), model.Keys()) << "step " << step;
        }
    }
    EXPECT_EQ(peak, run.capacity) << "the run never filled the cache, so eviction went untested";
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CacheModel,
    testing::Values(ModelRun{5, 16, 11, 200000, 1, 2000, 1}, ModelRun{5, 9, 9, 100000, 1, 2000, 2},
                    ModelRun{1, 4, 3, 20000, 1, 2000, 3},
                    ModelRun{kCacheCapacity, 30000, 24000, 300000, 4999, 4, 4}),
    [](const testing::TestParamInfo<ModelRun>& info) {
        return "Capacity" + std::to_string(info.param.capacity) + "Seed" +
               std::to_string(info.param.seed);
    });

}  // namespace
}  // namespace mirelo

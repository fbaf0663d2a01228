#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "heap_hooks.h"
#include "translation_cache.h"

namespace {

using mirelo::HashText;
using mirelo::kCacheCapacity;
using mirelo::TranslationCache;
using mirelo::heap::RequestedBytes;
using mirelo::heap::UsableBytes;

// Distinct two-byte-character lines, like the host's Shift-JIS text.
std::vector<std::string> MakeLines(size_t count, size_t length, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> lead(0x82, 0x9F), trail(0x40, 0xFC);
    std::vector<std::string> lines(count);
    for (std::string& line : lines) {
        while (line.size() + 2 <= length) {
            line += static_cast<char>(lead(rng));
            line += static_cast<char>(trail(rng));
        }
        if (line.size() < length) line += 'a';
    }
    return lines;
}

// Line numbers in random order: a fixed cycle would always hit the least recent entry.
std::vector<uint32_t> MakeVisits(bool random) {
    std::vector<uint32_t> visits(random ? 1 << 16 : 1, 0);
    std::mt19937 rng(5);
    std::uniform_int_distribution<uint32_t> pick(0, kCacheCapacity - 1);
    if (random)
        for (uint32_t& v : visits) v = pick(rng);
    return visits;
}

void Fill(TranslationCache& cache, const std::vector<std::string>& sources,
          const std::vector<std::string>& texts) {
    for (size_t i = 0; i < sources.size(); ++i)
        cache.AddEntry(HashText(sources[i].c_str()), sources[i], texts[i]);
}

// What the worker does for a repeated line: measure, hash, look up, copy out.
void BM_CacheHit(benchmark::State& state) {
    const size_t length = static_cast<size_t>(state.range(0));
    const auto visits = MakeVisits(state.range(1) != 0);
    const auto sources = MakeLines(kCacheCapacity, length, 1);
    const auto texts = MakeLines(kCacheCapacity, length, 2);
    TranslationCache cache;
    Fill(cache, sources, texts);
    char dest[8192];
    size_t i = 0;
    for (auto _ : state) {
        const char* source = sources[visits[i]].c_str();
        const size_t size = std::strlen(source);
        const mirelo::CacheEntry* entry = cache.FindEntry(HashText(source), {source, size});
        if (!entry) {
            state.SkipWithError("miss on a full cache");
            break;
        }
        std::memcpy(dest, entry->text().data(), entry->text().size() + 1);
        benchmark::DoNotOptimize(dest);
        benchmark::ClobberMemory();
        if (++i == visits.size()) i = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

void BM_HashOnly(benchmark::State& state) {
    const size_t length = static_cast<size_t>(state.range(0));
    const auto visits = MakeVisits(state.range(1) != 0);
    const auto sources = MakeLines(kCacheCapacity, length, 1);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(HashText(sources[visits[i]].c_str()));
        if (++i == visits.size()) i = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

// The floor a hit cannot go under: the ordered map's descent through 10000 keys.
void BM_OrderedMapFindOnly(benchmark::State& state) {
    const auto visits = MakeVisits(state.range(0) != 0);
    const auto sources = MakeLines(kCacheCapacity, 60, 1);
    std::map<uint32_t, const void*> index;
    std::vector<uint32_t> keys;
    for (const std::string& source : sources) {
        keys.push_back(HashText(source.c_str()));
        index.emplace(keys.back(), &source);
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.find(keys[visits[i]]));
        if (++i == visits.size()) i = 0;
    }
}
BENCHMARK(BM_OrderedMapFindOnly)->Arg(0)->Arg(1);

// Arguments: line length, and 0 to repeat one line or 1 to visit all 10000 at random.
#define LINE_ARGS ->Args({60, 0})->Args({60, 1})->Args({600, 0})->Args({600, 1})
BENCHMARK(BM_CacheHit) LINE_ARGS;
BENCHMARK(BM_HashOnly) LINE_ARGS;

// Bytes per entry of a full cache; "overhead" is what is spent beyond the source and the text.
void BM_MemoryPerEntry(benchmark::State& state) {
    const size_t sourceLength = static_cast<size_t>(state.range(0));
    const size_t textLength = static_cast<size_t>(state.range(1));
    const auto sources = MakeLines(kCacheCapacity, sourceLength, 3);
    const auto texts = MakeLines(kCacheCapacity, textLength, 4);
    double requested = 0, usable = 0;
    for (auto _ : state) {
        const size_t requestedBefore = RequestedBytes(), usableBefore = UsableBytes();
        auto* cache = new TranslationCache;
        Fill(*cache, sources, texts);
        requested = double(RequestedBytes() - requestedBefore) / kCacheCapacity;
        usable = double(UsableBytes() - usableBefore) / kCacheCapacity;
        delete cache;
    }
    const double payload = double(sourceLength + textLength);
    state.counters["requested_per_entry"] = requested;
    state.counters["requested_overhead"] = requested - payload;
    state.counters["malloc_per_entry"] = usable;
    state.counters["malloc_overhead"] = usable - payload;
}
BENCHMARK(BM_MemoryPerEntry)
    ->Args({16, 16})
    ->Args({60, 60})
    ->Args({60, 90})
    ->Args({600, 800})
    ->Iterations(1);

}  // namespace

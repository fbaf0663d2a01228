// User dictionaries with 10,000 entries of each kind: the four passes on a 60-byte line
// against the filter chain alone, reading and compiling the files, and the memory an entry
// costs beyond its two texts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "random_words.h"
#include "../tests/dictionary/iconv_encoders.h"
#include "filter_chain.h"
#include "heap_hooks.h"

namespace {

using namespace mirelo;
using namespace mirelo::dict;
using mirelo::bench::Word;

constexpr int kEntriesPerKind = 10000;

struct Corpus {
    std::vector<std::string> names, pres, posts;  // FROM of each entry, UTF-8
    std::string file;                             // all entries, one file
    size_t textBytes = 0;                         // UTF-8 FROM and TO of every line
};

// Katakana names, hiragana words replaced by katakana, Hangul phrases replaced by Hangul.
const Corpus& MakeCorpus() {
    static const Corpus corpus = [] {
        Corpus c;
        std::mt19937 rng(9);
        auto add = [&](const char* kind, const std::string& from, const std::string& to) {
            c.file += std::string(kind) + "\t" + from + "\t" + to + "\n";
            c.textBytes += from.size() + to.size();
        };
        for (int k = 0; k < kEntriesPerKind; ++k) {
            c.names.push_back(Word(rng, U'\u30A1', U'\u30F3', 3, 5));
            add("name", c.names.back(), Word(rng, U'\uAC00', U'\uD7A3', 2, 3));
            c.pres.push_back(Word(rng, U'\u3041', U'\u3093', 3, 5));
            add("pre", c.pres.back(), Word(rng, U'\u30A1', U'\u30F3', 2, 4));
            c.posts.push_back(Word(rng, U'\uAC00', U'\uD7A3', 2, 3));
            add("post", c.posts.back(), Word(rng, U'\uAC00', U'\uD7A3', 2, 4));
        }
        return c;
    }();
    return corpus;
}

const Dictionary& Loaded() {
    static const auto d = [] {
        const SourceFile file{"bench.txt", MakeCorpus().file};
        return Dictionary::Compile(std::span(&file, 1), test::Encoders());
    }();
    return *d;
}

// A 60-byte Shift-JIS line holding one name and one pre entry, and the engine's answer to
// it: a 60-byte CP949 line holding the name marker and one post entry.
struct Line {
    std::string source;
    std::string engineWithMarker;
    std::string engineWithoutMarker;
};

const Line& TypicalLine() {
    static const Line line = [] {
        const Corpus& c = MakeCorpus();
        Line l;
        l.source = test::Sjis("「" + c.names[17] + "は" + c.pres[42] + "の剣を手に入れた。」");
        while (l.source.size() < 60) l.source += test::Sjis("あ");
        l.source.resize(60);
        std::vector<char> buf(4096);
        Loaded().ProtectNames(l.source.c_str(), buf.data(), buf.size());
        const std::string marked(buf.data());
        const std::string marker = marked.substr(marked.find("_&"), 9);
        const std::string tail = test::Cp949("는 " + c.posts[7] + " 검을 손에 넣었다. 어떻게 할까");
        l.engineWithMarker = test::Cp949("「") + marker + tail;
        l.engineWithoutMarker = test::Cp949("「미레이") + tail;
        return l;
    }();
    return line;
}

const ChainOptions kOptions{true, false};

void ChainWithoutDictionary(benchmark::State& state) {
    const Line& line = TypicalLine();
    FilterChain chain;
    for (auto _ : state) {
        benchmark::DoNotOptimize(chain.Escape(line.source.c_str(), kOptions));
        benchmark::DoNotOptimize(chain.Finish(line.engineWithoutMarker.c_str(), kOptions));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ChainWithoutDictionary);

void ChainWithDictionary(benchmark::State& state) {
    const Line& line = TypicalLine();
    const Dictionary& d = Loaded();
    FilterChain chain;
    std::vector<char> a(4096), b(4096);
    std::vector<Firing> fired;
    for (auto _ : state) {
        d.ApplyPre(line.source.c_str(), a.data(), a.size());
        d.ProtectNames(a.data(), b.data(), b.size());
        benchmark::DoNotOptimize(chain.Escape(b.data(), kOptions));
        const char* finished = chain.Finish(line.engineWithMarker.c_str(), kOptions);
        d.RestoreNames(finished, a.data(), a.size());
        d.ApplyPost(a.data(), b.data(), b.size());
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(ChainWithDictionary);

using Pass = size_t (Dictionary::*)(const char*, char*, size_t, std::vector<Firing>*) const;

void OnePass(benchmark::State& state, Pass pass, bool source) {
    const Line& line = TypicalLine();
    const std::string& text = source ? line.source : line.engineWithMarker;
    const Dictionary& d = Loaded();
    std::vector<char> out(4096);
    for (auto _ : state) {
        benchmark::DoNotOptimize((d.*pass)(text.c_str(), out.data(), out.size(), nullptr));
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(OnePass, ApplyPre, &Dictionary::ApplyPre, true);
BENCHMARK_CAPTURE(OnePass, ProtectNames, &Dictionary::ProtectNames, true);
BENCHMARK_CAPTURE(OnePass, RestoreNames, &Dictionary::RestoreNames, false);
BENCHMARK_CAPTURE(OnePass, ApplyPost, &Dictionary::ApplyPost, false);

// From a file on disk to a compiled dictionary: the first N entries of the corpus, a third
// of each kind.
void ReadAndCompile(benchmark::State& state) {
    const std::string& all = MakeCorpus().file;
    size_t end = 0;
    for (int64_t k = 0; k < state.range(0); ++k) end = all.find('\n', end) + 1;
    const std::string path = "/tmp/mirelo-dictionary-bench.txt";
    std::ofstream(path, std::ios::binary) << all.substr(0, end);
    size_t entries = 0;
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        const SourceFile file{"bench.txt", bytes};
        const auto d = Dictionary::Compile(std::span(&file, 1), test::Encoders());
        entries = d->Count(Kind::Pre) + d->Count(Kind::Name) + d->Count(Kind::Post);
    }
    std::remove(path.c_str());
    state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(ReadAndCompile)->Arg(10000)->Arg(3 * kEntriesPerKind)->Unit(benchmark::kMillisecond);

// What a compiled dictionary keeps on the heap, less the UTF-8 of every FROM and TO.
void MemoryPerEntry(benchmark::State& state) {
    const Corpus& c = MakeCorpus();
    const SourceFile file{"bench.txt", c.file};
    double perEntry = 0;
    for (auto _ : state) {
        const size_t before = heap::UsableBytes();
        auto d = Dictionary::Compile(std::span(&file, 1), test::Encoders());
        const size_t kept = heap::UsableBytes() - before;
        const size_t entries = d->Count(Kind::Pre) + d->Count(Kind::Name) + d->Count(Kind::Post);
        perEntry = (static_cast<double>(kept) - static_cast<double>(c.textBytes)) /
                   static_cast<double>(entries);
    }
    state.counters["bytes_per_entry"] = perEntry;
}
BENCHMARK(MemoryPerEntry)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

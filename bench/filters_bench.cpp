// Each filter on a realistic 4 KB text against a plain copy that walks the same text unit by
// unit, plus the whole chain on a typical line.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "filter_chain.h"
#include "markers.h"
#include "post_filters.h"
#include "pre_filters.h"

namespace {

using namespace mirelo;

// The yardstick: copies units (a high byte with a non-zero byte after it is a pair).
size_t WalkCopy(const char* src, char* dst) {
    auto s = reinterpret_cast<const unsigned char*>(src);
    auto d = reinterpret_cast<unsigned char*>(dst);
    while (const unsigned c = *s) {
        if (c >= 0x80 && s[1] != 0) {
            d[0] = static_cast<unsigned char>(c);
            d[1] = s[1];
            d += 2;
            s += 2;
        } else {
            *d++ = static_cast<unsigned char>(c);
            ++s;
        }
    }
    *d = 0;
    return static_cast<size_t>(d - reinterpret_cast<unsigned char*>(dst));
}

std::string RepeatTo(const std::string& line, size_t bytes) {
    std::string text;
    while (text.size() + line.size() <= bytes) text += line;
    return text;
}

// Game dialogue in Shift-JIS: kana and kanji, full-width brackets and quotes from the symbol
// table, some ASCII brackets, colons and digits.
const std::string& SjisText() {
    static const std::string text = RepeatTo(
        "\x81\x75\x82\xB1\x82\xEA\x82\xCD\x8E\x84\x82\xCC\x96\xBC\x91\x4F\x81\x69\x82\xC8"
        "\x82\xDC\x82\xA6\x81\x6A\x82\xC5\x82\xB7\x81\x42\x81\x76(HP:120) "
        "\x83\x4A\x81\x5B\x83\x68\x82\xF0\x8E\x67\x82\xA4\x81\x48 [Lv 3] "
        "\x81\x67\x82\xA8\x82\xCD\x82\xE6\x82\xA4\x81\x68\x81\x97\x93\x8C\x8B\x9E\x81\x42\r\n",
        4096);
    return text;
}

// Engine output in CP949: Hangul with doubled spaces, the engine's notes, corner brackets,
// PairMarkers for table symbols and ByteMarkers for the source's own brackets.
const std::string& Cp949Text() {
    static const std::string text = RepeatTo(
        "\xA1\xB8 \xC0\xCC\xB0\xCD\xC0\xBA  \xC1\xA6 \xC0\xCC\xB8\xA7_&163168&_\xC0\xCC\xB8"
        "\xA7_&163169&_\xC0\xD4\xB4\xCF\xB4\xD9. \xA1\xB9_&040&_HP_&058&_120_&041&_ "
        "\xC4\xAB\xB5\xE5(\xC4\xAB\xB5\xE5)\xB8\xA6  \xBB\xE7\xBF\xEB , \xC7\xD2\xB1\xEE?"
        " _&161176&_\xBE\xC8\xB3\xE7_&161177&_ {note}\xA1\xA1\xB5\xBF\xB0\xE6.\r\n",
        4096);
    return text;
}

void Walk(benchmark::State& state, const std::string& text) {
    std::vector<char> dst(EscapedCapacity(text.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(WalkCopy(text.c_str(), dst.data()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void Filter(benchmark::State& state, size_t (*filter)(const char*, char*, size_t),
            const std::string& text) {
    std::vector<char> dst(EscapedCapacity(text.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter(text.c_str(), dst.data(), dst.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK_CAPTURE(Walk, sjis_4k, SjisText());
BENCHMARK_CAPTURE(Filter, EscapeBrackets, EscapeBrackets, SjisText());
BENCHMARK_CAPTURE(Filter, EscapeSymbols, EscapeSymbols, SjisText());
BENCHMARK_CAPTURE(Walk, cp949_4k, Cp949Text());
BENCHMARK_CAPTURE(Filter, TidySpaces, TidySpaces, Cp949Text());
BENCHMARK_CAPTURE(Filter, DecodePairMarkers, DecodePairMarkers, Cp949Text());
BENCHMARK_CAPTURE(Filter, StripAnnotations, StripAnnotations, Cp949Text());
BENCHMARK_CAPTURE(Filter, DecodeByteMarkers, DecodeByteMarkers, Cp949Text());

// Escape, an engine that answers with what it was given, Finish: a typical 60-byte line.
void Chain(benchmark::State& state) {
    const std::string line =
        "\x81\x75\x82\xB1\x82\xEA\x82\xCD\x81\x69\x8E\x84\x81\x6A\x82\xCC\x96\xBC\x91\x4F"
        "(HP:12) \x82\xC5\x82\xB7\x81\x42\x81\x76\x81\x67\x82\xA8\x82\xCD\x81\x68"
        "\x83\x4A\x81\x5B\x83\x68\x82\xF0\x8E\x67\x82\xA4\x81\x48\x81\x42";
    const ChainOptions options{state.range(0) != 0, state.range(1) != 0};
    FilterChain chain;
    std::string engineOutput;
    for (auto _ : state) {
        const char* escaped = chain.Escape(line.c_str(), options);
        engineOutput.assign(escaped);
        benchmark::DoNotOptimize(chain.Finish(engineOutput.c_str(), options));
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(line.size()) + " bytes");
}
BENCHMARK(Chain)->ArgNames({"brackets", "spaces"})->Args({0, 0})->Args({1, 0})->Args({1, 1});

}  // namespace

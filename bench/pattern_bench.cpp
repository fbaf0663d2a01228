// Pattern entries: the dictionary's passes on a 60-byte line as the plug-in runs them, with
// 50 pattern entries against none, and the classic runaway patterns on a 10,000-character
// line, each stopped by the step budget.
#include <benchmark/benchmark.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "../tests/dictionary/iconv_encoders.h"

namespace {

using namespace mirelo::dict;

// 60 bytes each: a source line with ruby, a speaker tag and control codes, and a translation.
const std::string& SourceLine() {
    static const std::string line =
        test::Sjis("【ミレイ】「勇者《ゆうしゃ》は\\n[1]と#c(赤)城{i}へ」");
    return line;
}
const std::string& TranslationLine() {
    static const std::string line =
        test::Cp949("미레이：「용사는 동료와 함께 성으로 간다 !」 좋아");
    return line;
}

// The guide's kinds of entry with variations, as a player's files grow them: half pre-re,
// half post-re, and literal entries beside them.
std::string PatternFile(int patterns) {
    static const char* const kPre[] = {
        "《[^》]*》\t",
        "[|｜]([^《]+)《[^》]*》\t$1",
        "^【([^】]+)】\t$1：",
        "\\\\[nN]\\[1\\]\tミレイ",
        "\\\\[nN]\\[2\\]\tカイ",
        "#c\\([^)]*\\)\t",
        "\\{i\\}\t",
        "\\{/i\\}\t",
        "(.)\\1\t$1",
        "\\\\[cC]\\[\\d+\\]\t",
        "\\\\[vV]\\[(\\d+)\\]\t$1",
        "^\\s+\t",
        "\\s+$\t",
        "<[^>]*>\t",
        "〔[^〕]*〕\t",
        "…{2,}\t…",
        "ー{3,}\tーー",
        "！{2,}\t！",
        "？{2,}\t？",
        "^（(.*)）$\t$1",
        "\\\\\\.\t",
        "\\\\\\|\t",
        "\\\\![^\\\\]*\t",
        "@\\d+\t",
        "%[a-z]\t",
    };
    static const char* const kPost[] = {
        "\\s+([.,!?])\t$1",
        "^(.+?)：\t[$1] ",
        "\\s{2,}\t ",
        "\\.{3}\t…",
        "([가-힣])\\1{3,}\t$1$1",
        "「\t\"",
        "」\t\"",
        "『\t'",
        "』\t'",
        "！\t!",
        "？\t?",
        "^\\s+\t",
        "\\s+$\t",
        "~+\t~",
        "(하|해)요\\s*\\?\t$1요?",
        "\\(웃음\\)\t",
        "씨씨\t씨",
        "[ㄱ-ㅎ]+\t",
        "<[^>]*>\t",
        "\\[\\]\t",
        "#\\d+\t",
        "%[a-z]\t",
        "@@\t@",
        "\\*{2,}\t*",
        "_{2,}\t_",
    };
    std::string file;
    for (int k = 0; k < 20; ++k) {
        file += "pre\tことば" + std::to_string(k) + "\t言葉\n";
        file += "post\t단어" + std::to_string(k) + "\t낱말\n";
    }
    file += "name\tミレイ\t미레이\n";
    for (int k = 0; k < patterns; ++k) {
        const bool pre = k % 2 == 0;
        file += std::string(pre ? "pre-re\t" : "post-re\t") +
                (pre ? kPre[(k / 2) % std::size(kPre)] : kPost[(k / 2) % std::size(kPost)]) + "\n";
    }
    return file;
}

std::unique_ptr<Dictionary> Compiled(const std::string& text) {
    const SourceFile file{"bench.txt", text};
    std::vector<Problem> problems;
    auto d = Dictionary::Compile(std::span(&file, 1), test::Encoders(), &problems);
    if (!problems.empty()) std::abort();
    return d;
}

// As the plug-in does: each pass only when its kind has entries, into two buffers in turn.
void Chain(benchmark::State& state) {
    const auto d = Compiled(PatternFile(static_cast<int>(state.range(0))));
    if (d->Count(Kind::PreRe) + d->Count(Kind::PostRe) != static_cast<size_t>(state.range(0)))
        std::abort();
    std::string a(4096, '\0'), b(4096, '\0');
    const auto run = [&](std::initializer_list<std::pair<Pass, Kind>> passes, const char* text) {
        for (const auto& [pass, kind] : passes) {
            if (d->Count(kind) == 0) continue;
            std::string& into = text == a.data() ? b : a;
            text = RunPass(*d, pass, text, into);
        }
        return text;
    };
    for (auto _ : state) {
        benchmark::DoNotOptimize(run({{&Dictionary::ApplyPreRe, Kind::PreRe},
                                      {&Dictionary::ApplyPre, Kind::Pre},
                                      {&Dictionary::ProtectNames, Kind::Name}},
                                     SourceLine().c_str()));
        benchmark::DoNotOptimize(run({{&Dictionary::RestoreNames, Kind::Name},
                                      {&Dictionary::ApplyPost, Kind::Post},
                                      {&Dictionary::ApplyPostRe, Kind::PostRe}},
                                     TranslationLine().c_str()));
    }
}
BENCHMARK(Chain)->Arg(0)->Arg(50)->Unit(benchmark::kMicrosecond);

// One runaway entry on a 10,000-character line: the time until the budget stops it.
void Runaway(benchmark::State& state, const char* pattern, std::string line) {
    const auto d = Compiled(std::string("pre-re\t") + pattern + "\tX\n");
    std::vector<Firing> fired;
    std::string out;
    for (auto _ : state) {
        fired.clear();
        RunPass(*d, &Dictionary::ApplyPreRe, line.c_str(), out, &fired);
        if (fired.size() != 1 || fired[0].what != FiringKind::kOverBudget) std::abort();
    }
}
const std::string kAs(10000, 'a');
BENCHMARK_CAPTURE(Runaway, nested_plus, "(a+)+$", kAs + "!")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Runaway, overlapping_alternatives, "(a|aa)+$", kAs + "!")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Runaway, same_alternatives, "(a|a)*b", kAs)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Runaway, dot_star_twelve, "(.*a){12}", std::string(10000, 'x') + "aaaaaaaaaaa")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Runaway, doubled_plus, "(x+x+)+y", "y" + std::string(10000, 'x'))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Runaway, words_and_spaces, "(\\w+\\s?)+$", kAs + "!")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Runaway, kanji_ruby, "(.+《.*)+》$",
                  std::string(3333, 'a') + test::Sjis("《") + std::string(3333, 'b') +
                      test::Sjis("》x"))
    ->Unit(benchmark::kMillisecond);

// Many short searches on one line: each search stays within any per-search limit, and only a
// count across the line's searches stops the entry.
void ManySearches(benchmark::State& state) {
    const auto d = Compiled("pre-re\ta(?=(?:a|a){0,16}c|)\tb\n");
    const std::string line(2000, 'a');
    std::vector<Firing> fired;
    std::string out;
    for (auto _ : state) {
        fired.clear();
        RunPass(*d, &Dictionary::ApplyPreRe, line.c_str(), out, &fired);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(ManySearches)->Unit(benchmark::kMillisecond);

// 10,000 entries (the first 1,000 in use), each matching a 2,000-character line with some
// backtracking: the line's own total stops the pass.
void ManyEntries(benchmark::State& state) {
    std::string file;
    for (int k = 0; k < 10000; ++k)
        file += "pre-re\ta(?=(?:a|a){0," + std::to_string(8 + k % 8) + "}c|)\t$&\n";
    const SourceFile source{"bench.txt", file};
    const auto d = Dictionary::Compile(std::span(&source, 1), test::Encoders());
    const std::string line(2000, 'a');
    std::vector<Firing> fired;
    std::string out;
    for (auto _ : state) {
        fired.clear();
        RunPass(*d, &Dictionary::ApplyPreRe, line.c_str(), out, &fired);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(ManyEntries)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

// The worst a line's pattern entries may cost, 32-bit under Wine as the plug-in runs them:
// one entry that searches a 2,000-character line once for each character, and 10,000 entries
// (the first 1,000 in use) that all match it. Each is stopped by the step budgets; the
// milliseconds per line are the median of a few runs.
//
// Run under Wine: cmake/wine-run.sh build/win32/wineprefix build/win32/bin/pattern_line_bench.exe

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dictionary_folder_win.h"
#include "win_bench.h"

namespace {

using namespace mirelo::dict;

double MillisPerLine(const std::string& file, const std::string& line) {
    const SourceFile source{"bench.txt", file};
    const auto d = Dictionary::Compile(std::span(&source, 1), SystemEncoders());
    std::vector<double> runs;
    std::string out;
    for (int k = 0; k < 7; ++k) {
        const double start = mirelo::bench::NowSeconds();
        RunPass(*d, &Dictionary::ApplyPreRe, line.c_str(), out);
        runs.push_back(1000 * (mirelo::bench::NowSeconds() - start));
    }
    return mirelo::bench::Median(runs);
}

}  // namespace

int main() {
    const std::string line(2000, 'a');
    std::printf("one entry, a search for each character: %.1f ms\n",
                MillisPerLine("pre-re\ta(?=(?:a|a){0,16}c|)\tb\n", line));
    std::string many;
    for (int k = 0; k < 10000; ++k)
        many += "pre-re\ta(?=(?:a|a){0," + std::to_string(8 + k % 8) + "}c|)(?:x" +
                std::to_string(k) + ")?\t$&\n";
    std::printf("10,000 entries, all matching: %.1f ms\n", MillisPerLine(many, line));
    return 0;
}

// Under Wine, with the shipped build's dictionary code: what 100,000 `line` entries cost a
// line against what 10,000 `pre` entries cost it, and how long each folder takes to load,
// as the plug-in loads it (no origins) and as --check-dict does (with them). One run, both
// side by side.
//
//   cmake/wine-run.sh build/win32/wineprefix build/win32/bin/dictionary_line_bench.exe

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dictionary_folder_win.h"
#include "random_words.h"
#include "win_bench.h"

using mirelo::bench::Median;
using mirelo::bench::NowSeconds;
using mirelo::bench::Word;
using namespace mirelo::dict;

namespace {

constexpr int kLines = 100000;
constexpr int kPres = 10000;
constexpr int kCalls = 200000;
constexpr int kLoads = 5;

bool Write(const std::wstring& path, const std::string& text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    const bool ok =
        WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) && n == text.size();
    CloseHandle(h);
    return ok;
}

std::string Sjis(const std::string& utf8) {
    std::string out;
    SystemEncoders().toShiftJis(utf8, out);
    return out;
}

// A 60-byte Shift-JIS line made of `words`, padded with あ.
std::string GameLine(const std::string& words) {
    std::string line = Sjis("「" + words + "」");
    while (line.size() < 60) line += Sjis("あ");
    line.resize(60);
    return line;
}

struct Loaded {
    double plugin = 0, check = 0;  // median seconds
    double worst = 0;              // the slowest load of either kind
    std::unique_ptr<Dictionary> dictionary;
};

Loaded LoadTimes(const std::wstring& folder) {
    Loaded r;
    std::vector<double> plugin, check;
    for (int k = 0; k < kLoads; ++k) {
        double t = NowSeconds();
        FolderDictionary d = LoadFolder(folder, {.keepOrigins = false});
        plugin.push_back(NowSeconds() - t);
        if (k == 0) r.dictionary = std::move(d.dictionary);
        d.dictionary.reset();
        t = NowSeconds();
        FolderDictionary c = LoadFolder(folder);
        check.push_back(NowSeconds() - t);
    }
    for (double s : plugin) r.worst = std::max(r.worst, s);
    for (double s : check) r.worst = std::max(r.worst, s);
    r.plugin = Median(plugin);
    r.check = Median(check);
    return r;
}

volatile size_t g_sink;

template <class Call>
double NanosecondsPerCall(Call call) {
    size_t sink = 0;
    const double t = NowSeconds();
    for (int k = 0; k < kCalls; ++k) sink += call();
    g_sink = sink;
    return 1e9 * (NowSeconds() - t) / kCalls;
}

}  // namespace

int main() {
    const std::wstring root = mirelo::bench::TempPath(L"mirelo-line-bench-");
    const std::wstring lineDir = root + L"-line", preDir = root + L"-pre";
    CreateDirectoryW(lineDir.c_str(), nullptr);
    CreateDirectoryW(preDir.c_str(), nullptr);

    // Game lines of 12 to 30 kana and their corrections; hiragana words to katakana.
    std::mt19937 rng(23);
    std::vector<std::string> lines, pres;
    std::string lineFile, preFile;
    for (int k = 0; k < kLines; ++k) {
        lines.push_back("「" + Word(rng, U'\u3041', U'\u3093', 12, 30) + "」");
        lineFile += "line\t" + lines.back() + "\t" + Word(rng, U'\uAC00', U'\uD7A3', 8, 20) + "\n";
    }
    for (int k = 0; k < kPres; ++k) {
        pres.push_back(Word(rng, U'\u3041', U'\u3093', 3, 5));
        preFile += "pre\t" + pres.back() + "\t" + Word(rng, U'\u30A1', U'\u30F3', 2, 4) + "\n";
    }
    if (!Write(lineDir + L"\\corrections.txt", lineFile) ||
        !Write(preDir + L"\\20-pre.txt", preFile)) {
        std::fprintf(stderr, "cannot write the folders\n");
        return 1;
    }

    const Loaded line = LoadTimes(lineDir);
    const Loaded pre = LoadTimes(preDir);
    if (!line.dictionary || !pre.dictionary || line.dictionary->Count(Kind::Line) != kLines ||
        pre.dictionary->Count(Kind::Pre) < kPres * 99 / 100) {
        std::fprintf(stderr, "the folders did not load whole: %zu line, %zu pre entries\n",
                     line.dictionary ? line.dictionary->Count(Kind::Line) : 0,
                     pre.dictionary ? pre.dictionary->Count(Kind::Pre) : 0);
        return 1;
    }

    // The same 60-byte line for both: one pre FROM in it, and no line entry's FROM.
    const std::string typical = GameLine(pres[42] + "は" + pres[4242] + "の剣を手に入れた");
    const std::string hit = Sjis(lines[31337]) + "\r\n";
    std::vector<char> out(4096);
    const Dictionary& p = *pre.dictionary;
    const Dictionary& l = *line.dictionary;
    const double prePass = NanosecondsPerCall(
        [&] { return p.ApplyPre(typical.c_str(), out.data(), out.size(), nullptr); });
    std::string_view to;
    const double lineMiss = NanosecondsPerCall([&] { return l.FindLine(typical, to) ? 1u : 2u; });
    const double lineHit = NanosecondsPerCall([&] { return l.FindLine(hit, to) ? 2u : 3u; });
    if (!l.FindLine(hit, to) || l.FindLine(typical, to)) {
        std::fprintf(stderr, "the line entries do not answer as they should\n");
        return 1;
    }

    // Random short words repeat now and then: the entries in use are told.
    std::printf("%-34s %12zu pre %11zu line\n", "", p.Count(Kind::Pre), l.Count(Kind::Line));
    std::printf("%-34s %13.0f ns %13.0f ns\n", "per 60-byte line, no line entry's", prePass,
                lineMiss);
    std::printf("%-34s %16s %13.0f ns\n", "per line a line entry answers", "", lineHit);
    std::printf("%-34s %13.1f ms %13.1f ms\n", "folder load, as the plug-in", 1e3 * pre.plugin,
                1e3 * line.plugin);
    std::printf("%-34s %13.1f ms %13.1f ms\n", "folder load, as --check-dict", 1e3 * pre.check,
                1e3 * line.check);
    std::printf("%-34s %13.1f ms %13.1f ms\n", "slowest of the 10 loads", 1e3 * pre.worst,
                1e3 * line.worst);
    std::printf("file sizes: pre %zu bytes, line %zu bytes\n", preFile.size(), lineFile.size());

    DeleteFileW((lineDir + L"\\corrections.txt").c_str());
    DeleteFileW((preDir + L"\\20-pre.txt").c_str());
    RemoveDirectoryW(lineDir.c_str());
    RemoveDirectoryW(preDir.c_str());
    return 0;
}

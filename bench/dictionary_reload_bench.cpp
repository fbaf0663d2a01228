// Under Wine, through a copy of the DLL: what reloading a big user dictionary costs the
// lines being translated meanwhile. A 15 MiB dictionary sits beside the copy; lines are
// translated back to back for a while with the folder left alone, then for as long again
// with a small second file rewritten every second, so that the whole folder is read and
// compiled again and again. Each Translate is timed; the process's committed private
// memory is sampled all along.
//
//   cmake/wine-run.sh build/win32/wineprefix build/win32/bin/dictionary_reload_bench.exe [DLL]
//
// DLL: the Mirelo.dll to measure (default: the one beside this program).

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "random_words.h"
#include "dictionary_folder_win.h"
#include "plugin_fixture.h"
#include "win_bench.h"

using namespace mirelo::test;
using mirelo::bench::NowSeconds;
using mirelo::bench::Utf8;
using mirelo::bench::Word;

namespace {

constexpr size_t kDictionaryBytes = size_t{15} << 20;
constexpr int kNames = 90000;
constexpr double kPhaseSeconds = 12.0;
// Long enough for a change to be seen and to hold still, short of a big build's end.
constexpr DWORD kQuietAndLookMs = 900;

// Katakana names, hiragana words to katakana, Hangul to Hangul, as many as fill the size.
std::string MakeDictionary(std::vector<std::string>& names, std::vector<std::string>& pres) {
    std::mt19937 rng(15);
    std::string file;
    file.reserve(kDictionaryBytes + 256);
    for (int k = 0; file.size() < kDictionaryBytes; ++k) {
        if (k < 3 * kNames && k % 3 == 0) {
            names.push_back(Word(rng, U'\u30A1', U'\u30F3', 3, 5));
            file += "name\t" + names.back() + "\t" + Word(rng, U'\uAC00', U'\uD7A3', 2, 3);
        } else if (k % 2 == 0) {
            pres.push_back(Word(rng, U'\u3041', U'\u3093', 3, 5));
            file += "pre\t" + pres.back() + "\t" + Word(rng, U'\u30A1', U'\u30F3', 2, 4);
        } else {
            file += "post\t" + Word(rng, U'\uAC00', U'\uD7A3', 2, 3) + "\t" +
                    Word(rng, U'\uAC00', U'\uD7A3', 2, 4);
        }
        file += '\n';
    }
    return file;
}

std::string Sjis(const std::string& utf8) {
    std::string out;
    mirelo::dict::SystemEncoders().toShiftJis(utf8, out);
    return out;
}

// Committed private bytes of the process: a walk over the address space, which takes no
// heap lock, so the worker's allocations are not held up by the sampling.
size_t CommittedPrivate() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION mbi;
    for (const char* p = nullptr; ::VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) total += mbi.RegionSize;
        const char* next = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize;
        if (next <= p) break;
        p = next;
    }
    return total;
}

struct Phase {
    std::vector<double> ms;  // per Translate
    int failed = 0;
    int swaps = 0;  // dictionaries taken, as changes of the sentinel line's answer
    size_t peakBytes = 0;
};

double Percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))];
}

void Report(const char* name, const Phase& p) {
    std::printf(
        "%-14s %7zu lines  median %6.3f ms  p99 %7.3f ms  p99.9 %7.3f ms  max %8.2f ms"
        "  failed %d  swaps %d  peak %6.1f MiB\n",
        name, p.ms.size(), Percentile(p.ms, 0.5), Percentile(p.ms, 0.99), Percentile(p.ms, 0.999),
        Percentile(p.ms, 1.0), p.failed, p.swaps, static_cast<double>(p.peakBytes) / (1 << 20));
}

}  // namespace

int main(int argc, char** argv) {
    std::wstring source = BinDir() + L"\\Mirelo.dll";
    if (argc > 1) {
        wchar_t path[MAX_PATH];
        ::MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH);
        source = path;
    }
    std::vector<std::string> names, pres;
    const std::string big = MakeDictionary(names, pres);

    EngineFolder engine("mode scripted\n");
    InstallKey installPath(engine.Root());
    HostWindow host;
    TempDir copy;
    ::CreateDirectoryW((copy / L"MireloDict").c_str(), nullptr);
    const std::wstring sentinelFile = copy / L"MireloDict\\zz-sentinel.txt";
    const std::string sentinel = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト
    WriteBytes(copy / L"MireloDict\\big.txt", big);
    WriteBytes(sentinelFile, "name\t" + sentinel + "\t\xEA\xB0\x80\n");  // 가
    if (!::CopyFileW(source.c_str(), (copy / L"Mirelo.dll").c_str(), FALSE)) {
        std::fprintf(stderr, "dictionary_reload_bench: cannot copy the DLL\n");
        return 1;
    }

    const size_t bare = CommittedPrivate();
    Plugin plugin(copy / L"Mirelo.dll");
    char options[16] = "";
    double start = NowSeconds();
    if (!plugin.Loaded() || plugin.init(host.get(), options) != 1) {
        std::fprintf(stderr, "dictionary_reload_bench: the plug-in did not start\n");
        return 1;
    }
    std::printf("dictionary: %.1f MiB, %zu names, %zu pre; init with it: %.0f ms\n",
                static_cast<double>(big.size()) / (1 << 20), names.size(), pres.size(),
                (NowSeconds() - start) * 1000);

    // Game lines, each with a name and a pre entry; the sentinel line last.
    std::vector<std::string> lines;
    std::mt19937 rng(7);
    for (int k = 0; k < 300; ++k) {
        lines.push_back(Sjis("\xE3\x80\x8C" + names[rng() % names.size()] + "\xE3\x81\xAF" +
                             pres[rng() % pres.size()] +
                             "\xE3\x81\xA8\xE8\xA8\x80\xE3\x81\xA3"
                             "\xE3\x81\x9F\xE3\x80\x82\xE3\x80\x8D"));
    }
    const std::string sentinelLine = Sjis(sentinel);

    std::atomic<bool> sampling{true};
    std::atomic<size_t> peak{0};
    std::thread sampler([&] {
        while (sampling.load()) {
            const size_t now = CommittedPrivate();
            if (now > peak.load()) peak.store(now);
            ::Sleep(10);
        }
    });
    ::Sleep(500);  // the sampler's first readings: memory with the dictionary loaded
    const size_t loaded = peak.load();

    auto runPhase = [&](bool reload) {
        Phase phase;
        peak.store(0);
        std::atomic<bool> writing{reload};
        std::thread writer([&] {
            for (int k = 1; writing.load(); ++k) {
                for (int t = 0; t < 100 && writing.load(); ++t) ::Sleep(10);
                // A new name each time, so that every swap shows in the sentinel's answer.
                const std::string to = Utf8(U'\uAC00' + static_cast<char32_t>(k));
                if (writing.load())
                    WriteBytes(sentinelFile, "name\t" + sentinel + "\t" + to + "\n");
            }
        });
        std::string result, last;
        const double end = NowSeconds() + kPhaseSeconds;
        for (size_t k = 0; NowSeconds() < end; ++k) {
            const bool isSentinel = k % lines.size() == 0;
            const std::string& line = isSentinel ? sentinelLine : lines[k % lines.size()];
            const double t0 = NowSeconds();
            const int ok = plugin.TranslateText(line, result);
            phase.ms.push_back((NowSeconds() - t0) * 1000);
            if (ok != 1) ++phase.failed;
            if (isSentinel) {
                if (!last.empty() && result != last) ++phase.swaps;
                last = result;
            }
        }
        writing.store(false);
        writer.join();
        phase.peakBytes = peak.load();
        return phase;
    };
    const Phase quiet = runPhase(false);
    const Phase reloading = runPhase(true);
    sampling.store(false);
    sampler.join();
    // A close while a build is under way: the builder must stop early.
    WriteBytes(sentinelFile, "name\t" + sentinel + "\t\xEB\x81\x9D\n");
    ::Sleep(kQuietAndLookMs);
    start = NowSeconds();
    plugin.close();
    const double closeMs = (NowSeconds() - start) * 1000;

    std::printf(
        "committed private memory: %.1f MiB before the plug-in, %.1f MiB with the "
        "dictionary loaded\n",
        static_cast<double>(bare) / (1 << 20), static_cast<double>(loaded) / (1 << 20));
    Report("no reloads", quiet);
    Report("reload each s", reloading);
    std::printf("close %.0f ms after a change, while the new dictionary was being built: %.0f ms\n",
                static_cast<double>(kQuietAndLookMs), closeMs);
    std::printf("slowest line: %+.2f ms with reloads; peak memory x%.2f of loaded\n",
                Percentile(reloading.ms, 1.0) - Percentile(quiet.ms, 1.0),
                static_cast<double>(reloading.peakBytes) / static_cast<double>(loaded));
    return 0;
}

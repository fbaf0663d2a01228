// One warm Translate round trip (a cache hit: the thread hop there and back, the
// hash, the lookup and the copy) against its floor, the thread hop itself: a bare
// ping-pong over two auto-reset events between two threads. Both run in the same
// process, interleaved, so the ratio holds on a busy machine. A third column runs the same
// line through a copy of the DLL that has a dictionary folder beside it: the difference is
// what the dictionary costs each request (a flag read; the folder is watched by a thread of
// its own). A fourth runs a line that a `line` entry of that folder answers, against the
// cache hit beside it (goal at most 1.2x).
//
// Run under Wine: cmake/wine-run.sh build/win32/wineprefix build/win32/bin/roundtrip_bench.exe

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "plugin_fixture.h"
#include "win_bench.h"

using namespace mirelo::test;

namespace {

using mirelo::bench::Median;
using mirelo::bench::NowSeconds;

constexpr int kRounds = 7;
constexpr int kTripsPerRound = 20000;

// Microseconds per round trip of a bare two-event ping-pong.
double PingPong(int trips) {
    HANDLE request = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread partner([&] {
        for (int i = 0; i < trips; ++i) {
            ::WaitForSingleObject(request, INFINITE);
            ::SetEvent(done);
        }
    });
    const double start = NowSeconds();
    for (int i = 0; i < trips; ++i) {
        ::SetEvent(request);
        ::WaitForSingleObject(done, INFINITE);
    }
    const double elapsed = NowSeconds() - start;
    partner.join();
    ::CloseHandle(request);
    ::CloseHandle(done);
    return elapsed * 1e6 / trips;
}

// Microseconds per warm Translate of `line`, or a negative number on failure.
double WarmTranslate(Plugin& plugin, const std::string& line, int trips) {
    char dest[256];
    if (plugin.translate(line.c_str(), dest, sizeof dest) != 1) return -1;  // fills the cache
    const double start = NowSeconds();
    for (int i = 0; i < trips; ++i) {
        if (plugin.translate(line.c_str(), dest, sizeof dest) != 1) return -1;
    }
    return (NowSeconds() - start) * 1e6 / trips;
}

}  // namespace

int main() {
    RunningPlugin run(Scripted());
    TempDir copy;
    ::CreateDirectoryW((copy / L"MireloDict").c_str(), nullptr);
    // A 60-byte line in Shift-JIS, as the cached one below, corrected by a `line` entry.
    const std::string corrected =
        "\xE5\x8B\x87\xE8\x80\x85\xE3\x81\xAF\xE9\xAD\x94\xE7\x8E\x8B\xE3\x81\xAE"
        "\xE5\x9F\x8E\xE3\x81\xB8\xE5\x90\x91\xE3\x81\x8B\xE3\x81\xA3\xE3\x81\x9F"
        "\xE3\x80\x82\xE4\xBB\xB2\xE9\x96\x93\xE3\x81\x9F\xE3\x81\xA1\xE3\x81\xAF"
        "\xE9\x9D\x99\xE3\x81\x8B\xE3\x81\xAB\xE9\xA0\xB7\xE3\x81\x84\xE3\x81\x9F"
        "\xE3\x80\x82\xE5\xA4\x9C\xE3\x81\x8C\xE6\x98\x8E\xE3\x81\x91\xE3\x82\x8B";
    WriteBytes(copy / L"MireloDict\\names.txt",
               "name\t\xE7\xBE\x8E\xE7\x8E\xB2\t\xEB\xAF\xBC\xEC\xA4\x80\n"
               "line\t" +
                   corrected +
                   "\t\xEC\x9A\xA9\xEC\x82\xAC\xEB\x8A\x94 \xEB\xA7\x88\xEC\x99\x95\xEC"
                   "\x9D\x98 \xEC\x84\xB1\xEC\x9C\xBC\xEB\xA1\x9C \xED\x96\xA5\xED\x96\x88"
                   "\xEB\x8B\xA4.\n");
    std::string correctedSjis;
    mirelo::EncodeExactly(932, corrected, correctedSjis);
    ::CopyFileW((BinDir() + L"\\Mirelo.dll").c_str(), (copy / L"Mirelo.dll").c_str(), FALSE);
    Plugin withDictionary(copy / L"Mirelo.dll");
    char options[16] = "";
    if (run.initResult != 1 || !withDictionary.Loaded() ||
        withDictionary.module() == run.plugin.module() ||
        withDictionary.init(run.host.get(), options) != 1) {
        std::fprintf(stderr, "roundtrip_bench: the plug-in did not start\n");
        return 1;
    }
    // A typical 60-byte game line in Shift-JIS.
    std::string line;
    while (line.size() < 60) line += "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd(abc) ";
    line.resize(60);

    std::vector<double> bare, translate, dictionary, lineEntry;
    for (int round = 0; round < kRounds; ++round) {
        bare.push_back(PingPong(kTripsPerRound));
        const double t = WarmTranslate(run.plugin, line, kTripsPerRound);
        const double d = WarmTranslate(withDictionary, line, kTripsPerRound);
        const double e = WarmTranslate(withDictionary, correctedSjis, kTripsPerRound);
        if (t < 0 || d < 0 || e < 0) {
            std::fprintf(stderr, "roundtrip_bench: Translate failed\n");
            return 1;
        }
        translate.push_back(t);
        dictionary.push_back(d);
        lineEntry.push_back(e);
    }
    withDictionary.close();
    const double b = Median(bare), t = Median(translate), d = Median(dictionary);
    std::printf("bare two-event ping-pong   %8.2f us per round trip (median of %d x %d)\n", b,
                kRounds, kTripsPerRound);
    std::printf("warm Translate, 60 bytes   %8.2f us per call\n", t);
    std::printf("ratio Translate / ping-pong %7.2f\n", t / b);
    std::printf("warm Translate, dictionary %8.2f us per call (%+.2f us)\n", d, d - t);
    const double e = Median(lineEntry);
    std::printf(
        "line entry hit, %zu bytes  %8.2f us per call, %.2fx the cache hit beside it "
        "(goal at most 1.2x)\n",
        correctedSjis.size(), e, e / d);

    // The builder thread's share: one folder listing every 250 ms.
    constexpr int kLooks = 200;
    const double start = NowSeconds();
    uint64_t sum = 0;
    for (int i = 0; i < kLooks; ++i) sum += mirelo::dict::FolderSignature(copy / L"MireloDict");
    const double look = (NowSeconds() - start) * 1e6 / kLooks;
    std::printf("folder listing %8.2f us, on the builder thread: %.1f us a second%s\n", look,
                look * 1000.0 / mirelo::dict::kLookIntervalMs, sum ? "" : " ");
    return 0;
}

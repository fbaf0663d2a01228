// Under Wine: the server's history at a million rows. Fills a fresh database through the same
// writer the server uses, then times searches (trigram and the short-query scan, one game and
// every game) and states the file's size.
// Usage: history_bench.exe FOLDER [ROWS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "history.h"
#include "random_words.h"

using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::uintmax_t Size(const std::filesystem::path& p) {
    std::error_code ec;
    const std::uintmax_t n = std::filesystem::file_size(p, ec);
    return ec ? 0 : n;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::filesystem::path folder(argv[1]);
    const std::size_t rows = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 1000000;
    const std::filesystem::path file = folder / server::kHistoryFileName;
    std::filesystem::remove(file);
    std::string why;
    auto history = server::History::Open(file, {}, &why);
    if (!history) {
        std::printf("cannot open: %s\n", why.c_str());
        return 1;
    }
    // Lines shaped like a game's: kana and kanji sentences of 8 to 30 characters, Hangul
    // answers, spread over 20 games; a few known words to look for.
    std::mt19937 rng(23);
    std::vector<std::string> games;
    for (int g = 0; g < 20; ++g) games.push_back("game" + std::to_string(g));
    const auto start = Clock::now();
    std::vector<server::AnsweredLine> batch;
    for (std::size_t i = 0; i < rows; ++i) {
        server::AnsweredLine l;
        l.time = std::chrono::system_clock::now();
        l.game = games[i % games.size()];
        l.client = "textractor";
        l.source = mirelo::bench::Word(rng, U'\u3041', U'\u3093', 4, 15) +
                   mirelo::bench::Word(rng, U'\u4E00', U'\u4FFF', 4, 15) + "。";
        if (i % 1000 == 7) l.source += "魔王を倒した";
        l.translation = mirelo::bench::Word(rng, U'\uAC00', U'\uD7A3', 6, 25);
        if (i % 1000 == 7) l.translation += " 마왕을 쓰러뜨렸다";
        batch.push_back(std::move(l));
        if (batch.size() == 1000) {
            history->Add(batch);
            history->Flush();  // at the writer's pace: nothing is dropped
            batch.clear();
        }
    }
    history->Add(batch);
    history->Flush();
    const double fill = Ms(Clock::now() - start);
    std::printf("filled %zu rows in %.1f s (%.0f rows/s), %llu dropped\n", rows, fill / 1000,
                rows / (fill / 1000), static_cast<unsigned long long>(history->Dropped()));

    struct Query {
        const char* what;
        std::string text;
        bool oneGame;
    };
    const Query queries[] = {
        {"Japanese, 6 chars, every game", "魔王を倒した", false},
        {"Japanese, 3 chars, one game", "魔王を", true},
        {"Korean, 4 chars, every game", "마왕을 ", false},
        {"Korean, 2 chars, one game (scan)", "마왕", true},
        {"Japanese, 2 chars, every game (scan)", "魔王", false},
        {"absent, 4 chars, every game", "存在せず", false},
        {"absent, 1 char, every game (scan)", "\xE2\x98\x83", false},
    };
    double worst = 0;
    for (const Query& q : queries) {
        std::vector<double> times;
        std::size_t found = 0;
        for (int run = 0; run < 7; ++run) {
            const auto t0 = Clock::now();
            found = history->Search(q.text, q.oneGame ? &games[7] : nullptr, 0, 100).size();
            times.push_back(Ms(Clock::now() - t0));
        }
        std::sort(times.begin(), times.end());
        worst = std::max(worst, times.back());
        std::printf("search %-38s median %7.1f ms, slowest %7.1f ms, %zu found\n", q.what, times[3],
                    times.back(), found);
    }
    const auto t0 = Clock::now();
    const std::size_t page = history->Page(&games[3], 0, 100).size();
    std::printf("page of 100, one game: %.1f ms (%zu)\n", Ms(Clock::now() - t0), page);
    history.reset();
    const std::uintmax_t bytes = Size(file) + Size(file.string() + "-wal");
    std::printf("database: %.1f MB for %zu rows (%.0f bytes a row)\n", bytes / 1048576.0, rows,
                static_cast<double>(bytes) / rows);
    std::printf("slowest search: %.1f ms (goal < 300 ms)\n", worst);
    return 0;
}

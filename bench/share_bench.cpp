// Under Wine: a game's translations made into a shared file, at 100,000 and 1,000,000 lines in
// each format, against the code that made them before (the same bytes, checked; the earlier
// JSON only at 100,000 lines, since it inserted each key after a search of all before it). Then
// --export's whole path at ROWS history lines of one game: the history's read, the entries and the
// file's bytes. Usage: share_bench.exe FOLDER [ROWS]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "history.h"
#include "random_words.h"
#include "share.h"

using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The export as it was made before, for its time and to check the bytes.
std::string EarlierEscape(std::string_view s, bool equals = true) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '=':
                out += equals ? "\\=" : "=";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Earlier(server::ShareFormat format, const server::Pairs& entries) {
    if (format == server::ShareFormat::kJson) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        for (const auto& [source, to] : entries) j[source] = to;
        return j.dump(1, '\t', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    std::string out;
    for (const auto& [source, to] : entries) {
        if (format == server::ShareFormat::kXUnity) {
            std::string key = EarlierEscape(source);
            if (key.rfind("//", 0) == 0) key = "\\" + key;
            out += key + "=" + EarlierEscape(to) + "\n";
        } else {
            out += EarlierEscape(source, false) + "\t" + EarlierEscape(to, false) + "\n";
        }
    }
    return out;
}

server::Pairs Lines(std::size_t n) {
    std::mt19937 rng(29);
    server::Pairs pairs;
    pairs.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        pairs.emplace_back(mirelo::bench::Word(rng, U'\u3041', U'\u3093', 4, 15) +
                               mirelo::bench::Word(rng, U'\u4E00', U'\u4FFF', 4, 15) +
                               std::to_string(i) + "。",
                           mirelo::bench::Word(rng, U'\uAC00', U'\uD7A3', 6, 25));
    // Escapes, a source like a comment, and a source given twice.
    for (std::size_t i = 0; i < n; i += 1000) pairs[i].first.insert(0, "//a=b\\c\t\r\n");
    if (n > 1) pairs.back().first = pairs.front().first;
    return pairs;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const std::filesystem::path folder(argv[1]);
    const std::size_t rows = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 200000;
    constexpr std::size_t kEarlierUpTo = 100000;
    for (std::size_t n : {std::size_t{100000}, std::size_t{1000000}}) {
        const server::Pairs pairs = Lines(n);
        for (auto [format, name] : {std::pair{server::ShareFormat::kXUnity, "translation file"},
                                    std::pair{server::ShareFormat::kTsv, "TSV"},
                                    std::pair{server::ShareFormat::kJson, "JSON"}}) {
            const auto t0 = Clock::now();
            const std::string bytes = server::ShareText(format, pairs);
            const double now = Seconds(Clock::now() - t0);
            std::printf("%8zu lines, %-16s %6.2f s (%.1f MB)", n, name, now, bytes.size() / 1e6);
            if (format != server::ShareFormat::kJson || n <= kEarlierUpTo) {
                const auto t1 = Clock::now();
                const std::string before = Earlier(format, pairs);
                std::printf(", before %6.2f s, %s bytes", Seconds(Clock::now() - t1),
                            before == bytes ? "same" : "DIFFERENT");
            }
            std::printf("\n");
        }
    }

    const std::filesystem::path file = folder / server::kHistoryFileName;
    std::filesystem::remove(file);
    std::string why;
    auto history = server::History::Open(file, {}, &why);
    if (!history) {
        std::printf("cannot open: %s\n", why.c_str());
        return 1;
    }
    const server::Pairs pairs = Lines(rows);
    std::vector<server::AnsweredLine> batch;
    for (const auto& [source, to] : pairs) {
        server::AnsweredLine l;
        l.time = std::chrono::system_clock::now();
        l.game = "game";
        l.source = source;
        l.translation = to;
        batch.push_back(std::move(l));
        if (batch.size() == 1000) {
            history->Add(batch);
            history->Flush();
            batch.clear();
        }
    }
    history->Add(batch);
    history->Flush();
    for (auto [format, name] : {std::pair{server::ShareFormat::kTsv, "TSV"},
                                std::pair{server::ShareFormat::kJson, "JSON"}}) {
        const auto t0 = Clock::now();
        const server::Pairs entries = server::ExportEntries(folder, "game", history.get(), nullptr);
        const std::string bytes = server::ShareText(format, entries);
        std::printf("export of %zu history lines as %-4s %6.2f s (%.1f MB)\n", entries.size(), name,
                    Seconds(Clock::now() - t0), bytes.size() / 1e6);
    }
    return 0;
}

#include "history_routes.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "corrections.h"
#include "game_name.h"
#include "history.h"
#include "messages.h"
#include "share.h"
#include "utf8.h"

namespace server {
namespace {

using Json = nlohmann::json;
using programs::Format;
using programs::Msg;

constexpr std::size_t kDefaultPageLines = 100;

int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The value of `name` in the query, %-escapes and '+' decoded; `bad` for a broken escape.
std::optional<std::string> Param(std::string_view query, std::string_view name, bool& bad) {
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        if (pair.substr(0, eq) != name) continue;
        const std::string_view raw = eq == std::string_view::npos ? "" : pair.substr(eq + 1);
        std::string value;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '+') {
                value += ' ';
            } else if (raw[i] != '%') {
                value += raw[i];
            } else if (i + 2 < raw.size() && Hex(raw[i + 1]) >= 0 && Hex(raw[i + 2]) >= 0) {
                value += static_cast<char>(Hex(raw[i + 1]) * 16 + Hex(raw[i + 2]));
                i += 2;
            } else {
                bad = true;
                return std::nullopt;
            }
        }
        return value;
    }
    return std::nullopt;
}

JsonAnswer Dump(int status, const Json& j) {
    return {status, j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"};
}

JsonAnswer Refuse(int status, const std::string& reason) {
    return Dump(status, Json{{"error", reason}});
}

std::string IsoTime(int64_t ms) {
    using namespace std::chrono;
    const sys_time<milliseconds> t{milliseconds(ms)};
    const sys_days day = floor<days>(t);
    const year_month_day ymd(day);
    const hh_mm_ss<milliseconds> hms(t - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()),
                  static_cast<int>(hms.subseconds().count()));
    return text;
}

JsonAnswer Lines(const std::vector<HistoryRow>& rows) {
    Json lines = Json::array();
    for (const HistoryRow& r : rows)
        lines.push_back({{"id", r.id},
                         {"time", IsoTime(r.timeMs)},
                         {"game", r.game},
                         {"client", r.client},
                         {"source", r.source},
                         {"translation", r.translation},
                         {"outcome", r.outcome}});
    return Dump(200, Json{{"lines", std::move(lines)}});
}

// The parameters every listing takes; a refusal when one is broken.
struct Listing {
    std::optional<std::string> game;
    int64_t before = 0;
    std::size_t limit = kDefaultPageLines;
    std::optional<JsonAnswer> refusal;
};

std::optional<std::string> CheckedGame(std::string_view query, bool& bad, std::string& why) {
    std::optional<std::string> game = Param(query, "game", bad);
    if (bad) {
        why = "game holds a broken %-escape";
        return std::nullopt;
    }
    if (!game || game->empty()) return game;
    const std::optional<std::string> folded = programs::CheckGameName(*game, &why);
    if (!folded) bad = true;
    return folded;
}

Listing ReadListing(std::string_view query) {
    Listing l;
    bool bad = false;
    std::string why;
    l.game = CheckedGame(query, bad, why);
    if (bad) {
        l.refusal = Refuse(400, why);
        return l;
    }
    auto number = [&](const char* name, int64_t low, int64_t high, int64_t& out) {
        const std::optional<std::string> v = Param(query, name, bad);
        if (!v) return;
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(v->data(), v->data() + v->size(), n);
        if (ec != std::errc() || end != v->data() + v->size() || n < low || n > high) bad = true;
        out = n;
    };
    int64_t limit = static_cast<int64_t>(kDefaultPageLines);
    number("before", 0, INT64_MAX, l.before);
    number("limit", 1, static_cast<int64_t>(kMaxPageLines), limit);
    l.limit = static_cast<std::size_t>(limit);
    if (bad)
        l.refusal = Refuse(400, "before and limit are whole numbers; limit is 1 to " +
                                    std::to_string(kMaxPageLines));
    return l;
}

JsonAnswer Import(History& history, std::string_view query, std::string_view body,
                  std::string_view contentType) {
    bool bad = false;
    std::string why;
    const std::optional<std::string> game = CheckedGame(query, bad, why);
    if (bad) return Refuse(400, why);
    if (!game) return Refuse(400, "missing game parameter");
    std::string media(contentType.substr(0, contentType.find(';')));
    while (!media.empty() && media.back() == ' ') media.pop_back();
    for (char& c : media) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ShareFormat format;
    if (media == "text/plain") {
        format = ShareFormat::kXUnity;
    } else if (media == "text/tab-separated-values") {
        format = ShareFormat::kTsv;
    } else if (media == "application/json") {
        format = ShareFormat::kJson;
    } else {
        return Refuse(415,
                      "send text/plain (a translation file), text/tab-separated-values or "
                      "application/json");
    }
    if (body.size() > kMaxImportBytes)
        return Refuse(413,
                      Format(Msg::kShareTooLarge, {"-", std::to_string(kMaxImportBytes >> 20)}));
    const SharedEntries read = ReadShared(format, body);
    if (!read.readable)
        return Refuse(
            400,
            Format(format == ShareFormat::kJson ? Msg::kShareNotJson : Msg::kShareNotText, {"-"}));
    Json skipped = read.skipped;
    if (read.entries.empty())
        return Dump(400, Json{{"error", Format(Msg::kShareNothing, {"-"})}, {"skipped", skipped}});
    if (!SaveCorrections(history.DictionaryFolder(), *game, read.entries, &why))
        return Refuse(500, why);
    return Dump(200, Json{{"imported", read.entries.size()}, {"skipped", skipped}});
}

JsonAnswer Export(History& history, std::string_view query) {
    bool bad = false;
    std::string why;
    const std::optional<std::string> game = CheckedGame(query, bad, why);
    if (bad) return Refuse(400, why);
    if (!game) return Refuse(400, "missing game parameter");
    const std::optional<std::string> format = Param(query, "format", bad);
    ShareFormat f = ShareFormat::kXUnity;
    if (format && *format == "tsv") {
        f = ShareFormat::kTsv;
    } else if (format && *format == "json") {
        f = ShareFormat::kJson;
    } else if (format && *format != "xunity") {
        return Refuse(400, "format is xunity, tsv or json");
    }
    return {200, ShareText(f, ExportEntries(history.DictionaryFolder(), *game, &history, nullptr))};
}

}  // namespace

constexpr std::string_view kReads[] = {"/api/history", "/api/search", "/api/games", "/api/export"};

bool IsHistoryRoute(std::string_view path) {
    return path == "/api/import" ||
           std::find(std::begin(kReads), std::end(kReads), path) != std::end(kReads);
}

std::optional<JsonAnswer> HistoryRoute(History& history, std::string_view method,
                                       std::string_view path, std::string_view query,
                                       std::string_view body, std::string_view contentType) {
    if (!IsHistoryRoute(path)) return std::nullopt;
    const bool read = path != "/api/import";
    const bool get = method == "GET" || method == "HEAD";
    if (read != get || (!read && method != "POST"))
        return Refuse(405, read ? "use GET" : "use POST");
    if (path == "/api/import") return Import(history, query, body, contentType);
    if (path == "/api/export") return Export(history, query);
    if (path == "/api/games") {
        Json games = Json::array();
        for (const GameSummary& g : history.Games())
            games.push_back({{"game", g.game}, {"lines", g.lines}, {"last", IsoTime(g.lastMs)}});
        return Dump(200, Json{{"games", std::move(games)}});
    }
    const Listing l = ReadListing(query);
    if (l.refusal) return *l.refusal;
    const std::string* game = l.game ? &*l.game : nullptr;
    if (path == "/api/history") return Lines(history.Page(game, l.before, l.limit));
    bool bad = false;
    const std::optional<std::string> q = Param(query, "q", bad);
    if (bad || !q || q->empty() || !mirelo::text::IsUtf8(*q))
        return Refuse(400, "give q=TEXT, UTF-8 and %-escaped");
    return Lines(history.Search(*q, game, l.before, l.limit));
}

}  // namespace server

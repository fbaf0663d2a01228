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
#include "web_words.h"

namespace server {
namespace {

using Json = nlohmann::json;
using programs::Format;
using programs::Msg;

constexpr std::size_t kDefaultPageLines = 100;

// The value of `name` in the query, %-escapes and '+' decoded; `bad` for a broken escape.
std::optional<std::string> Param(std::string_view query, std::string_view name, bool& bad) {
    return QueryValue(query, name, bad);
}

JsonAnswer Dump(int status, const Json& j) {
    return {status, j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"};
}

JsonAnswer Refuse(int status, const std::string& reason) {
    return {status, ErrorJson(reason)};
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
    const std::optional<std::string> folded = mirelo::games::CheckGameName(*game, &why);
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
    const std::string media = MediaType(contentType);
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
    return Dump(200, Json{{"imported", read.entries.size()},
                          {"skipped", skipped},
                          {"expressions", read.expressions}});
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
    } else if (format && (*format == "luna" || *format == "mtool")) {
        f = *FormatNamed(*format);
    } else if (format && *format != "xunity") {
        return Refuse(400, "format is xunity, tsv, json, luna or mtool");
    }
    std::size_t corrections = 0;
    const Pairs entries =
        ExportEntries(history.DictionaryFolder(), *game, &history, &corrections, &why);
    if (!why.empty()) return Refuse(500, Format(Msg::kHistoryReadFailed, {why}));
    if (f == ShareFormat::kLuna) return {200, LunaText(entries, corrections)};
    return {200, ShareText(f, entries)};
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
    // A read that fails is answered as the failure it is, never as an empty list.
    std::string failed;
    auto answer = [&](JsonAnswer ok) {
        return failed.empty() ? ok : Refuse(500, Format(Msg::kHistoryReadFailed, {failed}));
    };
    if (path == "/api/games") {
        Json games = Json::array();
        for (const GameSummary& g : history.Games(&failed))
            games.push_back({{"game", g.game}, {"lines", g.lines}, {"last", IsoTime(g.lastMs)}});
        return answer(Dump(200, Json{{"games", std::move(games)}}));
    }
    const Listing l = ReadListing(query);
    if (l.refusal) return *l.refusal;
    const std::string* game = l.game ? &*l.game : nullptr;
    if (path == "/api/history")
        return answer(Lines(history.Page(game, l.before, l.limit, &failed)));
    bool bad = false;
    const std::optional<std::string> q = Param(query, "q", bad);
    if (bad || !q || q->empty() || !mirelo::text::IsUtf8(*q))
        return Refuse(400, "give q=TEXT, UTF-8 and %-escaped");
    return answer(Lines(history.Search(*q, game, l.before, l.limit, &failed)));
}

}  // namespace server

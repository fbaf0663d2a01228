// The JSON routes over the history, its search, and sharing a game's translations, for the
// workbench page. Read routes run on the caller's thread on the history's own connection.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace server {

struct JsonAnswer {
    int status = 200;
    std::string body;  // UTF-8 JSON
};

class History;

// GET /api/history?game=G&before=ID&limit=N  -> {"lines":[{"id","time"(ISO 8601
// UTC),"game","client",
//                                                 "source","translation","outcome"}...]} newest
//                                                 first
// GET /api/search?q=TEXT&game=G(optional)&before=ID&limit=N  -> same shape
// GET /api/games -> {"games":[{"game","lines","last"(ISO time)}...]} most recent first
// GET /api/export?game=G&format=xunity|tsv -> the file's bytes (text/plain; charset=utf-8)
// POST /api/import?game=G  (body: the file; Content-Type names the format: text/plain=XUnity,
//                           text/tab-separated-values=TSV, application/json=JSON) -> {"imported":N}
// nullopt: not a history route. Without game= the history and search take every game; game=
// with an empty value means the lines that named none (and the common folder, for sharing).
// The paths HistoryRoute answers.
bool IsHistoryRoute(std::string_view path);

std::optional<JsonAnswer> HistoryRoute(History& history, std::string_view method,
                                       std::string_view path, std::string_view query,
                                       std::string_view body, std::string_view contentType);

}  // namespace server

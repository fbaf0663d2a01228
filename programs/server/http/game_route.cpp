#include "game_route.h"

#include <optional>

#include "game_name.h"
#include "web_words.h"

namespace server {
namespace {

constexpr std::string_view kPrefix = "/game/";
constexpr std::string_view kTranslate = "/translate";

}  // namespace

GameRoute RouteGame(std::string_view path, std::string_view query) {
    GameRoute r;
    r.path = path;
    std::optional<std::string> named;
    if (path.size() > kPrefix.size() + kTranslate.size() && path.starts_with(kPrefix) &&
        path.ends_with(kTranslate)) {
        const std::string_view raw =
            path.substr(kPrefix.size(), path.size() - kPrefix.size() - kTranslate.size());
        named = PercentDecode(raw, false);
        if (!named) {
            r.error = "the game name in the path holds a broken %-escape";
            return r;
        }
        r.path = kTranslate;
    } else if (path == "/game//translate") {
        r.error = "the game name is empty";
        return r;
    }
    if (r.path != kTranslate) return r;

    bool bad = false;
    const std::optional<std::string> asked = QueryValue(query, "game", bad);
    if (bad) {
        r.error = "game holds a broken %-escape";
        return r;
    }
    std::string why;
    std::optional<std::string> game;
    if (named) {
        game = mirelo::games::CheckGameName(*named, &why);
        if (!game) {
            r.error = why;
            return r;
        }
    }
    if (asked && !asked->empty()) {
        const std::optional<std::string> other = mirelo::games::CheckGameName(*asked, &why);
        if (!other) {
            r.error = why;
            return r;
        }
        if (game && *game != *other) {
            r.error = "the path and game= name two different games";
            return r;
        }
        game = other;
    }
    r.game = game.value_or(std::string());
    return r;
}

}  // namespace server

// Which game a translation request names: `game=NAME` in its query, or the path form
// /game/NAME/translate for clients that only let the player set a base URL.
#pragma once

#include <string>
#include <string_view>

namespace server {

struct GameRoute {
    std::string_view path;  // the route, /game/NAME taken off the path form
    std::string game;       // folded (CheckGameName); empty: the common entries alone
    std::string error;      // not empty: the request is answered 400 with it
};

// Only /translate names a game; other paths come back as they are. NAME in the path is
// %-decoded ('+' stays); an empty `game=` names none; the two forms, both given, must agree.
GameRoute RouteGame(std::string_view path, std::string_view query);

}  // namespace server

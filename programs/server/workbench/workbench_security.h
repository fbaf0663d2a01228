// Who may use the server. It listens on the loopback, but every web page the player opens can
// reach the loopback too: a page on another site may post to it, and a name of that site may
// be made to resolve to 127.0.0.1 (DNS rebinding). So the Host of every request must name this
// server, a request a browser sends for another site is refused whatever it asks, and a request
// that changes anything must come from the workbench page itself: its own Origin, and the run's
// token, which only that page is given.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace server {

struct Refusal {
    int status = 403;
    std::string reason;  // English, for the answer's body
};

struct HostRule {
    unsigned short port = 0;
    // Listening beyond the loopback (the player's --listen): any IP address with the port
    // names the server too. An address cannot be rebound; only names can.
    bool anyAddress = false;
    // The origin the player named with --cors: its pages may use the translation routes, never
    // the workbench's.
    std::string cors;
};

// The Host field: 127.0.0.1, localhost or [::1], with the server's port or none (a name
// cannot be rebound to us by its port). `given` false: the request had no Host field, which
// only HTTP/1.0 may omit.
std::optional<Refusal> CheckHost(const HostRule& rule, std::string_view host, bool given,
                                 unsigned httpVersion);

// Who the browser says the request is for. Programs send neither field and pass; the page sends
// its own origin. An Origin that is not this server as `host` names it, or Sec-Fetch-Site
// cross-site or same-site, is refused (403), on every route: another site's page may neither
// write nor start costly work. The --cors origin alone passes, and only outside "/" and /api/
// (`workbenchPath`).
std::optional<Refusal> CheckSite(const HostRule& rule, std::string_view host,
                                 std::string_view origin, bool originGiven,
                                 std::string_view fetchSite, bool workbenchPath);

// A request that changes something: its Origin must be this server as the Host names it, and
// its token header the run's token.
std::optional<Refusal> CheckChange(std::string_view host, std::string_view origin, bool originGiven,
                                   std::string_view token, std::string_view runToken);

// Compares in a time that does not depend on where the texts differ.
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace server

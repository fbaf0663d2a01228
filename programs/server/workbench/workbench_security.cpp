#include "workbench_security.h"

#include <algorithm>
#include <cctype>

namespace server {
namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool IsIpv4(std::string_view s) {
    int parts = 0;
    while (!s.empty()) {
        std::size_t n = 0;
        unsigned value = 0;
        while (n < s.size() && n < 4 && std::isdigit(static_cast<unsigned char>(s[n])))
            value = value * 10 + (s[n++] - '0');
        if (n == 0 || n > 3 || value > 255) return false;
        s.remove_prefix(n);
        ++parts;
        if (s.empty()) break;
        if (s.front() != '.') return false;
        s.remove_prefix(1);
        if (s.empty()) return false;
    }
    return parts == 4;
}

bool IsBracketedIpv6(std::string_view s) {
    if (s.size() < 4 || s.front() != '[' || s.back() != ']') return false;
    return std::all_of(s.begin() + 1, s.end() - 1,
                       [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

}  // namespace

std::optional<Refusal> CheckHost(const HostRule& rule, std::string_view host, bool given,
                                 unsigned httpVersion) {
    if (!given) {
        if (httpVersion < 11) return std::nullopt;
        return Refusal{400, "the request has no Host field"};
    }
    const std::string h = Lower(host);
    // The port is what follows the last colon outside brackets.
    const std::size_t bracket = h.rfind(']');
    const std::size_t colon = h.rfind(':');
    std::string name = h, port;
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        name = h.substr(0, colon);
        port = h.substr(colon + 1);
    }
    const bool portGood = port.empty() || port == std::to_string(rule.port);
    const bool nameGood = name == "127.0.0.1" || name == "localhost" || name == "[::1]" ||
                          (rule.anyAddress && (IsIpv4(name) || IsBracketedIpv6(name)));
    if (portGood && nameGood) return std::nullopt;
    return Refusal{
        421, "Host \"" + std::string(host).substr(0, 200) +
                 "\" is not this server: use http://127.0.0.1:" + std::to_string(rule.port) + "/"};
}

std::optional<Refusal> CheckSite(const HostRule& rule, std::string_view host,
                                 std::string_view origin, bool originGiven,
                                 std::string_view fetchSite, bool workbenchPath) {
    const std::string site = Lower(fetchSite);
    const bool foreignSite = site == "cross-site" || site == "same-site";
    if (!originGiven && !foreignSite) return std::nullopt;
    const std::string from = Lower(origin);
    if (originGiven && from == "http://" + Lower(host)) return std::nullopt;
    if (originGiven && !rule.cors.empty() && from == Lower(rule.cors)) {
        if (!workbenchPath) return std::nullopt;
        return Refusal{
            403, "the workbench is not served to other sites, --cors " + rule.cors + " included"};
    }
    const std::string who = originGiven ? "a page of " + std::string(origin).substr(0, 200)
                                        : "a page of another site (Sec-Fetch-Site: " +
                                              std::string(fetchSite).substr(0, 20) + ")";
    return Refusal{403, who + " cannot use this server: only programs and its own page can"};
}

std::optional<Refusal> CheckChange(std::string_view host, std::string_view origin, bool originGiven,
                                   std::string_view token, std::string_view runToken) {
    if (!originGiven || Lower(origin) != "http://" + Lower(host))
        return Refusal{403, "a change must come from the workbench page itself (Origin)"};
    if (runToken.empty() || !SameSecret(token, runToken))
        return Refusal{403, "a change needs the workbench page's token (X-Mirelo-Token)"};
    return std::nullopt;
}

bool SameSecret(std::string_view a, std::string_view b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ (b.empty() ? 0 : b[i % b.size()]));
    return diff == 0;
}

}  // namespace server

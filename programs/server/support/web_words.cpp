#include "web_words.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>

namespace server {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view s, bool plusIsSpace) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+' && plusIsSpace) {
            out += ' ';
        } else if (s[i] != '%') {
            out += s[i];
        } else {
            const int hi = i + 2 < s.size() ? HexDigit(s[i + 1]) : -1;
            const int lo = hi >= 0 ? HexDigit(s[i + 2]) : -1;
            if (lo < 0) return std::nullopt;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        }
    }
    return out;
}

std::optional<std::string> QueryValue(std::string_view query, std::string_view name, bool& bad) {
    bad = false;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        const std::optional<std::string> key = PercentDecode(pair.substr(0, eq), true);
        if (!key || *key != name) continue;
        std::optional<std::string> value = PercentDecode(
            eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), true);
        bad = !value;
        return value;
    }
    return std::nullopt;
}

std::string MediaType(std::string_view contentType) {
    std::string_view media = contentType.substr(0, contentType.find(';'));
    while (!media.empty() && IsSpace(media.front())) media.remove_prefix(1);
    while (!media.empty() && IsSpace(media.back())) media.remove_suffix(1);
    std::string out(media);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
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

std::string ErrorJson(const std::string& reason) {
    const nlohmann::json j{{"error", reason}};
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace server

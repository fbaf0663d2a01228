#pragma once
// How the server reads and writes the small words of HTTP, one rule each for every room: a
// %-escape, a query parameter, a media type, a time and an error in JSON.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace server {

// `s` with its %-escapes decoded, and '+' made a space when `plusIsSpace` (a query; a path keeps
// it). nullopt for a broken escape.
std::optional<std::string> PercentDecode(std::string_view s, bool plusIsSpace);

// The value of the first `name` parameter of a query string, both decoded as a query's are.
// nullopt when absent; `bad` is set when the value holds a broken %-escape.
std::optional<std::string> QueryValue(std::string_view query, std::string_view name, bool& bad);

// The type/subtype of a Content-Type field, in small letters, without its parameters and the
// spaces around it: "Application/JSON ; charset=UTF-8" is "application/json".
std::string MediaType(std::string_view contentType);

// Milliseconds since 1970 as "2024-05-01T12:34:56.789Z".
std::string IsoTime(int64_t ms);

// {"error":"reason"} and a line break: what every JSON route refuses with. Bytes that are not
// UTF-8 are replaced, never thrown at.
std::string ErrorJson(const std::string& reason);

}  // namespace server

// The small words every workbench route answers with: JSON replies, problems, a query's
// parameters and the game a request names. Pure; any thread.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "game_name.h"
#include "text_plan.h"
#include "web_words.h"
#include "workbench_api.h"

namespace server::replies {

using Json = nlohmann::json;

inline std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

inline WebAnswer JsonReply(const Json& j, int status = 200) {
    return {status, "application/json; charset=utf-8", Dump(j)};
}

inline WebAnswer Problem(int status, const std::string& reason) {
    return {status, "application/json; charset=utf-8", ErrorJson(reason)};
}

inline std::string Param(std::string_view query, std::string_view name, bool* given = nullptr) {
    bool bad = false;
    std::optional<std::string> v = QueryValue(query, name, bad);
    if (given) *given = v.has_value() && !bad;
    return v && !bad && IsValidUtf8(*v) ? *v : std::string();
}

inline std::string TrimEnd(std::string s) {
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.pop_back();
    return s;
}

// A game as a request names it: folded, "" for the common entries, nullopt (with `why`) when
// refused.
inline std::optional<std::string> GameOf(const std::string& raw, std::string* why) {
    if (raw.empty()) return std::string();
    return mirelo::games::CheckGameName(raw, why);
}

}  // namespace server::replies

#include "http_request.h"

#include <boost/beast/core/string.hpp>
#include <nlohmann/json.hpp>

#include "web_words.h"

namespace server::web {
namespace {

using Json = nlohmann::json;

std::string RouteOf(std::string_view target) {
    const boost::beast::string_view raw(target.data(), target.size());
    if (boost::beast::iequals(raw.substr(0, 7), "http://") ||
        boost::beast::iequals(raw.substr(0, 8), "https://")) {
        const std::size_t rest = target.find_first_of("/?", target.find("//") + 2);
        std::string route = rest == std::string_view::npos || target[rest] == '?' ? "/" : "";
        if (rest != std::string_view::npos) route.append(target.substr(rest));
        return route;
    }
    return std::string(target);
}

}  // namespace

Target TargetOf(std::string_view raw) {
    const std::string route = RouteOf(raw);
    const std::size_t q = route.find('?');
    if (q == std::string::npos) return {route, {}};
    return {route.substr(0, q), route.substr(q + 1)};
}

Prepared PrepareQuery(std::string_view query) {
    Prepared p;
    bool bad = false;
    std::optional<std::string> text = QueryValue(query, "text", bad);
    if (bad)
        p.refusal = Error(http::status::bad_request, "text holds a broken %-escape");
    else if (!text)
        p.refusal = Error(http::status::bad_request, "missing text parameter");
    else if (!IsValidUtf8(*text))
        p.refusal = Error(http::status::bad_request, "text is not valid UTF-8");
    else
        p.batch = std::make_shared<Batch>(std::vector<std::string>{std::move(*text)});
    return p;
}

Prepared PreparePlain(std::string_view body) {
    Prepared p;
    p.shape = Shape::kLines;
    if (!IsValidUtf8(body)) {
        p.refusal = Error(http::status::bad_request, "the body is not valid UTF-8");
        return p;
    }
    mirelo::text::StripUtf8Bom(body);
    p.lines = SplitLines(body);
    std::vector<std::string> texts;
    texts.reserve(p.lines.size());
    for (const Line& l : p.lines) texts.emplace_back(l.text);
    p.batch = std::make_shared<Batch>(texts);
    return p;
}

Prepared PrepareJson(std::string_view body) {
    Prepared p;
    auto refuse = [&p](const char* reason) {
        p.refusal = Error(http::status::bad_request, reason, true);
        return std::move(p);
    };
    Json j = Json::parse(body, nullptr, false);
    if (j.is_discarded()) return refuse("the body is not valid JSON (or not UTF-8)");
    if (!j.is_object() || j.contains("text") == j.contains("texts"))
        return refuse("give an object with \"text\" or \"texts\"");
    if (j.contains("text")) {
        if (!j["text"].is_string()) return refuse("\"text\" must be a string");
        p.shape = Shape::kJsonText;
        p.batch = std::make_shared<Batch>(std::vector<std::string>{j["text"].get<std::string>()});
        return p;
    }
    const Json& list = j["texts"];
    if (!list.is_array()) return refuse("\"texts\" must be an array of strings");
    std::vector<std::string> texts;
    for (const Json& t : list) {
        if (!t.is_string()) return refuse("\"texts\" must be an array of strings");
        texts.push_back(t.get<std::string>());
    }
    p.shape = Shape::kJsonTexts;
    p.batch = std::make_shared<Batch>(texts);
    return p;
}

}  // namespace server::web

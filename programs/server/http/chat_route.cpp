#include "chat_route.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "answer_feed.h"
#include "dictionary_watch.h"
#include "game_name.h"
#include "http_session.h"
#include "text_plan.h"
#include "web_words.h"

namespace server::web {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kV1 = "/v1";
constexpr std::string_view kGamePrefix = "/game/";
constexpr char kCommon[] = "mirelo";

std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

ChatPath::Kind KindOf(std::string_view rest) {
    if (rest == "/chat/completions") return ChatPath::kCompletions;
    if (rest == "/models") return ChatPath::kModels;
    return ChatPath::kOther;
}

bool IsCommon(std::string_view model) {
    if (model.size() != sizeof kCommon - 1) return model.empty();
    for (std::size_t i = 0; i < model.size(); ++i)
        if ((model[i] | 0x20) != kCommon[i]) return false;
    return true;
}

std::size_t CodePoints(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// One id per answer, as the clients expect; no two in one run alike.
std::string NextId() {
    static std::atomic<unsigned long long> next{1};
    return "chatcmpl-mirelo-" + std::to_string(next++);
}

struct LineFailure {
    http::status status;
    const char* code;
    const char* reason;
};

LineFailure FailureOf(Outcome outcome) {
    switch (outcome) {
        case Outcome::kQuarantined:
            return {http::status::unprocessable_entity, "quarantined",
                    "it ended the engine's process twice; it is not sent to the engine for now"};
        case Outcome::kHung:
            return {http::status::gateway_timeout, "hung", "the engine hung on it"};
        case Outcome::kTimedOut:
            return {http::status::gateway_timeout, "timed_out", "it was not answered in time"};
        default:
            return {http::status::unprocessable_entity, "untranslated",
                    "the engine gave no translation"};
    }
}

// A string as a JSON value; the answers are put together by hand, as a tree of objects built
// for each would cost more than the rest of a cached line's answer.
std::string Quote(const std::string& s) {
    return Json(s).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// `head`: {"id":..,"object":..,"created":..,"model":.., without the closing brace.
std::string Chunk(const std::string& head, std::string_view delta, const char* finish) {
    std::string out = "data: " + head + R"(,"choices":[{"index":0,"delta":)";
    out += delta;
    out += R"(,"finish_reason":)";
    out += finish ? std::string("\"") + finish + "\"" : std::string("null");
    out += "}]}\n\n";
    return out;
}

}  // namespace

std::optional<ChatPath> RouteChat(std::string_view path) {
    ChatPath r;
    if (path.starts_with(kGamePrefix)) {
        const std::size_t slash = path.find('/', kGamePrefix.size());
        if (slash == std::string_view::npos) return std::nullopt;
        const std::string_view rest = path.substr(slash);
        if (rest != kV1 && !rest.starts_with("/v1/")) return std::nullopt;
        r.kind = KindOf(rest.substr(kV1.size()));
        const std::optional<std::string> name =
            PercentDecode(path.substr(kGamePrefix.size(), slash - kGamePrefix.size()), false);
        std::string why;
        std::optional<std::string> game;
        if (!name)
            r.error = "the game name in the path holds a broken %-escape";
        else if (name->empty())
            r.error = "the game name is empty";
        else if (!(game = mirelo::games::CheckGameName(*name, &why)))
            r.error = why;
        else
            r.game = std::move(*game);
        return r;
    }
    if (path != kV1 && !path.starts_with("/v1/")) return std::nullopt;
    r.kind = KindOf(path.substr(kV1.size()));
    return r;
}

Reply ChatError(http::status status, const std::string& message, const char* code) {
    const bool server = static_cast<unsigned>(status) >= 500;
    Reply r;
    r.status = status;
    r.type = kJson;
    r.body = Dump({{"error",
                    {{"message", message},
                     {"type", server ? "server_error" : "invalid_request_error"},
                     {"code", code}}}}) +
             "\n";
    r.retry = status == http::status::service_unavailable;
    return r;
}

ChatPrepared PrepareChat(std::string_view body, const std::string& pathGame) {
    ChatPrepared p;
    auto refuse = [&p](const std::string& why, const char* code = "invalid_request") {
        p.refusal = ChatError(http::status::bad_request, why, code);
        return std::move(p);
    };
    const Json j = Json::parse(body, nullptr, false);
    if (j.is_discarded()) return refuse("the body is not valid JSON (or not UTF-8)");
    if (!j.is_object()) return refuse("give a JSON object with \"messages\"");
    if (j.contains("model") && !j["model"].is_null()) {
        if (!j["model"].is_string()) return refuse("\"model\" must be a string");
        p.ask.model = j["model"].get<std::string>();
    }
    if (j.contains("stream") && !j["stream"].is_null()) {
        if (!j["stream"].is_boolean()) return refuse("\"stream\" must be true or false");
        p.ask.stream = j["stream"].get<bool>();
    }
    const auto messages = j.find("messages");
    if (messages == j.end() || !messages->is_array())
        return refuse("\"messages\" must be an array of messages");
    const Json* user = nullptr;
    for (const Json& m : *messages)
        if (m.is_object() && m.contains("role") && m["role"] == "user") user = &m;
    if (!user)
        return refuse("no message has the role \"user\": nothing to translate", "no_user_message");
    std::string text;
    const auto content = user->find("content");
    if (content != user->end() && content->is_string()) {
        text = content->get<std::string>();
    } else if (content != user->end() && content->is_array()) {
        // The parts form: its text parts, in order.
        for (const Json& part : *content)
            if (part.is_object() && part.value("type", "") == "text" && part.contains("text") &&
                part["text"].is_string())
                text += part["text"].get<std::string>();
    } else {
        return refuse("the last user message has no text content", "no_user_message");
    }

    std::string game;
    if (!IsCommon(p.ask.model)) {
        std::string why;
        const std::optional<std::string> named = mirelo::games::CheckGameName(p.ask.model, &why);
        if (!named) return refuse("\"model\" names no game: " + why, "model_not_found");
        game = *named;
    }
    if (!pathGame.empty()) {
        if (!game.empty() && game != pathGame)
            return refuse("the path and \"model\" name two different games", "model_not_found");
        game = pathGame;
    }
    if (p.ask.model.empty()) p.ask.model = kCommon;

    std::vector<std::string> texts;
    for (const Line& l : SplitLines(text)) {
        texts.emplace_back(l.text);
        p.ask.ends.emplace_back(l.end);
    }
    p.ask.sourceChars = CodePoints(text);
    p.batch = std::make_shared<Batch>(texts);
    p.game = std::move(game);
    return p;
}

Reply ChatAnswer(const Batch& batch, const ChatAsk& ask) {
    std::vector<std::string> lines;
    lines.reserve(batch.TextCount());
    for (std::size_t i = 0; i < batch.TextCount(); ++i) {
        Batch::Result res = batch.Get(i);
        if (res.outcome != Outcome::kTranslated) {
            const LineFailure why = FailureOf(res.outcome);
            return ChatError(why.status,
                             "line " + std::to_string(i + 1) + " was not translated: " + why.reason,
                             why.code);
        }
        lines.push_back(std::move(res.text) + ask.ends[i]);
    }
    const std::string head = R"({"id":")" + NextId() + R"(","object":"chat.completion)" +
                             (ask.stream ? ".chunk" : "") + R"(","created":)" +
                             std::to_string(std::time(nullptr)) + R"(,"model":)" + Quote(ask.model);
    Reply r;
    if (ask.stream) {
        // The whole answer is known at once; it still comes as the chunks a stream reader
        // expects, a line in each, so that such a reader shows it line by line.
        r.type = "text/event-stream; charset=utf-8";
        r.body = Chunk(head, R"({"role":"assistant","content":""})", nullptr);
        for (const std::string& line : lines)
            r.body += Chunk(head, R"({"content":)" + Quote(line) + "}", nullptr);
        r.body += Chunk(head, "{}", "stop");
        r.body += "data: [DONE]\n\n";
        return r;
    }
    std::string content;
    for (const std::string& line : lines) content += line;
    const std::size_t answered = CodePoints(content);
    r.type = kJson;
    // No tokens are counted by the engine: the counts are characters, for a client that sums them.
    r.body = head + R"(,"choices":[{"index":0,"message":{"role":"assistant","content":)" +
             Quote(content) + R"(},"finish_reason":"stop"}],"usage":{"prompt_tokens":)" +
             std::to_string(ask.sourceChars) + R"(,"completion_tokens":)" +
             std::to_string(answered) + R"(,"total_tokens":)" +
             std::to_string(ask.sourceChars + answered) + "}}\n";
    return r;
}

Reply ChatModels(const std::vector<std::string>& games) {
    Json data = Json::array();
    auto add = [&data](const std::string& id) {
        data.push_back({{"id", id}, {"object", "model"}, {"created", 0}, {"owned_by", "mirelo"}});
    };
    add(kCommon);
    for (const std::string& g : games) add(g);
    Reply r;
    r.type = kJson;
    r.body = Dump({{"object", "list"}, {"data", std::move(data)}}) + "\n";
    return r;
}

// The route on the connection's thread: a chat turned into a batch for the session's
// exchange with the pool (pool_exchange.cpp), which sends its answer back.
void Session::HandleChat(Request& req, const ChatPath& route) {
    // Only chat clients speak this route, whatever they call themselves.
    if (m_client == "http") m_client = "chat";
    const bool get = req.method() == http::verb::get || m_head;
    if (req.method() == http::verb::options && !m_config.cors.empty()) {
        Reply r;
        r.status = http::status::no_content;
        m_preflight = true;
        return Send(std::move(r));
    }
    if (!route.error.empty())
        return Send(ChatError(http::status::bad_request, route.error, "invalid_game"));
    if (route.kind == ChatPath::kOther)
        return Send(ChatError(http::status::not_found,
                              "no such path; use /v1/chat/completions or /v1/models", "not_found"));
    if (route.kind == ChatPath::kModels) {
        if (!get) {
            Reply r = ChatError(http::status::method_not_allowed, "use GET", "method_not_allowed");
            r.allow = "GET, HEAD";
            return Send(std::move(r));
        }
        return Send(ChatModels(m_config.dictionary ? m_config.dictionary->Games()
                                                   : std::vector<std::string>{}));
    }
    if (req.method() != http::verb::post) {
        Reply r = ChatError(http::status::method_not_allowed, "use POST", "method_not_allowed");
        r.allow = "POST";
        return Send(std::move(r));
    }
    const beast::string_view type = req[http::field::content_type];
    const std::string media = MediaType(std::string_view(type.data(), type.size()));
    if (!media.empty() && media != "application/json")
        return Send(ChatError(http::status::unsupported_media_type, "send application/json",
                              "unsupported_media_type"));
    m_body = std::move(req.body());
    const std::string_view body(m_body.data(), m_body.size());
    m_deadline = Clock::time_point::max();
    if (body.size() < kBuildElsewhereBytes || !m_shared.builder)
        return m_exchange.SubmitChat(PrepareChat(body, route.game));
    asio::post(*m_shared.builder, [self = shared_from_this(), body, game = route.game]() mutable {
        ChatPrepared p;
        try {
            p = PrepareChat(body, game);
        } catch (...) {
            p.thrown = WhatWasThrown();
        }
        Back(std::move(self),
             [p = std::move(p)](Session& s) mutable { s.m_exchange.SubmitChat(std::move(p)); });
    });
}

}  // namespace server::web

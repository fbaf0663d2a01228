// The routes: what each request asks and the batch it becomes, handed to the session's
// exchange with the pool (pool_exchange.*). Every route is chosen in Handle.
#include <stdexcept>

#include "answer_feed.h"
#include "game_route.h"
#include "workbench.h"
#include "http_session.h"
#include "web_words.h"

namespace server::web {

void Session::Handle(Request req) {
    m_reading = false;
    m_keepAlive = req.keep_alive();
    m_version = req.version();
    m_head = req.method() == http::verb::head;
    const Target target = TargetOf(std::string_view(req.target().data(), req.target().size()));
    const beast::string_view agent = req[http::field::user_agent];
    m_client = ClientKind(std::string_view(agent.data(), agent.size()));
    const bool get = req.method() == http::verb::get || m_head;
    GameRoute route = RouteGame(target.path, target.query);
    if (!route.error.empty()) return Send(Error(http::status::bad_request, route.error));
    m_game = std::move(route.game);
    const std::string_view path = route.path;
    if (m_config.workbench) {
        WebRequest w = Web(req, path, target.query);
        w.peer = m_peer;
        if (const std::optional<Refusal> no = m_config.workbench->CheckCaller(w)) {
            // Another site is refused in the words of the route it asked for.
            const bool page = no->status == 403 && Workbench::Owns(path);
            Reply r = Error(static_cast<http::status>(no->status), no->reason, page);
            r.workbench = page;
            return Send(std::move(r));
        }
        if (Workbench::Owns(path)) return HandleWorkbench(w);
    }

    if (const std::optional<ChatPath> chat = RouteChat(path)) return HandleChat(req, *chat);
    if (path == "/status")
        return Send(get ? Status(m_shared.translator.Snapshot(), m_config)
                        : NotAllowed("GET, HEAD"));
    if (path != "/translate")
        return Send(Error(http::status::not_found, "no such path; use /translate or /status"));
    if (req.method() == http::verb::options && !m_config.cors.empty()) {
        Reply r;
        r.status = http::status::no_content;
        m_preflight = true;
        return Send(std::move(r));
    }
    if (get) return HandleGet(target.query);
    if (req.method() != http::verb::post) return Send(NotAllowed("GET, HEAD, POST"));
    HandlePost(req);
}

WebRequest Session::Web(const Request& req, std::string_view path, std::string_view query) {
    auto field = [&req](auto name, bool* given = nullptr) {
        const auto it = req.find(name);
        if (given) *given = it != req.end();
        if (it == req.end()) return std::string_view();
        return std::string_view(it->value().data(), it->value().size());
    };
    WebRequest w;
    const beast::string_view method = req.method_string();
    w.method = std::string_view(method.data(), method.size());
    w.path = path;
    w.query = query;
    w.host = field(http::field::host, &w.hostGiven);
    w.origin = field(http::field::origin, &w.originGiven);
    w.fetchSite = field("Sec-Fetch-Site");
    w.token = field("X-Mirelo-Token");
    w.contentType = field(http::field::content_type);
    w.body = std::string_view(req.body().data(), req.body().size());
    w.version = req.version();
    return w;
}

Reply Session::FromWeb(WebAnswer a) {
    Reply r;
    r.status = static_cast<http::status>(a.status);
    r.type = std::move(a.type);
    r.body = std::move(a.body);
    r.workbench = true;
    r.page = a.page;
    return r;
}

// The workbench answers at once, or later from a thread of its own (a page waiting for new
// lines, a correction being checked, an export): that answer is posted back here. A large one
// is put together on the thread that made it, so that this one only writes it.
void Session::HandleWorkbench(const WebRequest& w) {
    // Fixed until this request is answered: no other is read meanwhile.
    const Framing framing{m_version, m_keepAlive, false, m_head};
    std::optional<WebAnswer> a =
        m_config.workbench->Handle(w, [self = shared_from_this(), framing](WebAnswer a) mutable {
            if (a.body.size() < kBuildElsewhereBytes)
                return Back(std::move(self), [a = std::move(a)](Session& s) mutable {
                    s.Send(FromWeb(std::move(a)));
                });
            std::string wire;
            try {
                wire = Serialize(FromWeb(std::move(a)), framing, self->m_config.cors);
            } catch (...) {
                // Out of memory: the connection is dropped, which closes it.
                self->m_shared.Failed(WhatWasThrown());
                return;
            }
            Back(std::move(self), [wire = std::move(wire), keepAlive = framing.keepAlive](
                                      Session& s) mutable { s.Write(std::move(wire), keepAlive); });
        });
    if (a) return Send(FromWeb(std::move(*a)));
    m_deadline = Clock::time_point::max();
}

void Session::HandleGet(std::string_view query) {
    m_exchange.Submit(PrepareQuery(query));
}

void Session::HandlePost(Request& req) {
    const beast::string_view type = req[http::field::content_type];
    const std::string media = MediaType(std::string_view(type.data(), type.size()));
    const bool json = media == "application/json";
    if (!json && !media.empty() && media != "text/plain")
        return Send(Error(http::status::unsupported_media_type,
                          "send text/plain (one line per line) or application/json"));
    // The lines of a plain body point into it until the answer is made.
    m_body = std::move(req.body());
    const std::string_view body(m_body.data(), m_body.size());
    m_deadline = Clock::time_point::max();
    if (body.size() < kBuildElsewhereBytes || !m_shared.builder)
        return m_exchange.Submit(json ? PrepareJson(body) : PreparePlain(body));
    // A large body would hold up every other connection while it is cut into lines.
    asio::post(*m_shared.builder, [self = shared_from_this(), body, json]() mutable {
        Prepared p;
        try {
            p = json ? PrepareJson(body) : PreparePlain(body);
        } catch (...) {
            p.thrown = WhatWasThrown();
        }
        Back(std::move(self),
             [p = std::move(p)](Session& s) mutable { s.m_exchange.Submit(std::move(p)); });
    });
}

}  // namespace server::web

// The routes: what each request asks, the batch it becomes, and the pool's answer back to
// the client. Every route is chosen in Handle.
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
    Submit(PrepareQuery(query));
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
        return Submit(json ? PrepareJson(body) : PreparePlain(body));
    // A large body would hold up every other connection while it is cut into lines.
    asio::post(*m_shared.builder, [self = shared_from_this(), body, json]() mutable {
        Prepared p;
        try {
            p = json ? PrepareJson(body) : PreparePlain(body);
        } catch (...) {
            p.thrown = WhatWasThrown();
        }
        Back(std::move(self), [p = std::move(p)](Session& s) mutable { s.Submit(std::move(p)); });
    });
}

void Session::Submit(Prepared p) {
    if (!p.thrown.empty()) {
        m_shared.Failed(p.thrown);
        throw std::runtime_error(p.thrown);  // answered 500 by the guard
    }
    if (p.refusal) return Send(std::move(*p.refusal));
    std::shared_ptr<Batch> batch = std::move(p.batch);
    const Shape shape = p.shape;
    m_lines = std::move(p.lines);
    if (batch->PieceCount() == 0) return Finish(std::move(batch), shape);
    const bool json = shape == Shape::kJsonText || shape == Shape::kJsonTexts;
    m_deadline = Clock::time_point::max();  // the translator's own deadline holds now
    batch->SetGame(m_game);
    const Translator::Admit admit = m_shared.translator.Submit(
        batch, Translator::Clock::now() + m_config.lineTimeout, HandBack(batch, shape));
    if (admit == Translator::Admit::kAnswered) return Finish(std::move(batch), shape);
    if (admit != Translator::Admit::kQueued) {
        if (HoldForEngine(batch, shape)) return;
        Release(std::move(batch));
        return Send(Busy(admit, json, m_shared.translator.Problem()));
    }
    WatchForClose(batch);
}

// Posts the finished batch back to this connection's thread, which sees to its answer. The
// connection goes with it, so the plug-in's thread keeps no hold on it.
Translator::HandBack Session::HandBack(std::shared_ptr<Batch> batch, Shape shape) {
    return [self = shared_from_this(), batch = std::move(batch), shape]() mutable noexcept {
        Back(std::move(self), [batch = std::move(batch), shape](Session& s) mutable {
            s.Finish(std::move(batch), shape);
        });
    };
}

void Session::Finish(std::shared_ptr<Batch> batch, Shape shape) {
    StopWatching();
    m_holdUntil = {};
    if (batch->Refused()) {
        Release(std::move(batch));
        return Send(Busy(Translator::Admit::kFull,
                         shape == Shape::kJsonText || shape == Shape::kJsonTexts, {}));
    }
    m_shared.translator.CountServed(batch->LineCount());
    const bool feed = m_config.feed && m_config.feed->HasListeners();
    if (batch->LineCount() >= kAnswerElsewhereLines && m_shared.builder)
        return AnswerElsewhere(std::move(batch), shape, feed);
    if (feed) m_config.feed->Publish(AnsweredLines(*batch, m_client));
    Reply r = Answer(*batch, shape, m_lines);
    m_lines.clear();
    m_body.clear();
    Send(std::move(r));
}

// A large answer would hold up every other connection while it is made, and so would
// freeing its batch: both are done on the builder's thread, and this one only writes.
void Session::AnswerElsewhere(std::shared_ptr<Batch> batch, Shape shape, bool feed) {
    const Framing framing = TakeFraming(false);
    asio::post(*m_shared.builder,
               [self = shared_from_this(), batch = std::move(batch), shape, feed, framing,
                client = m_client, lines = std::move(m_lines)]() mutable {
                   std::string wire, thrown;
                   try {
                       if (feed) self->m_config.feed->Publish(AnsweredLines(*batch, client));
                       wire = Serialize(Answer(*batch, shape, lines), framing, self->m_config.cors);
                   } catch (...) {
                       thrown = WhatWasThrown();
                   }
                   batch.reset();
                   lines = {};
                   Back(std::move(self), [wire = std::move(wire), thrown = std::move(thrown),
                                          keepAlive = framing.keepAlive](Session& s) mutable {
                       s.m_body.clear();
                       if (!thrown.empty()) {
                           s.m_shared.Failed(thrown);
                           throw std::runtime_error(thrown);  // answered 500 by the guard
                       }
                       s.Write(std::move(wire), keepAlive);
                   });
               });
}

// A large batch refused is freed off this thread too.
void Session::Release(std::shared_ptr<Batch> batch) {
    if (!batch || batch->LineCount() < kAnswerElsewhereLines || !m_shared.builder) return;
    asio::post(*m_shared.builder, [batch = std::move(batch)] {});
}

}  // namespace server::web

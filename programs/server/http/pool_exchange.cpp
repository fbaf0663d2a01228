// The pool's side of a request: see pool_exchange.h. Every answer goes out through the
// session, on the I/O thread.
#include "pool_exchange.h"

#include <stdexcept>
#include <utility>

#include "answer_feed.h"
#include "http_session.h"

namespace server::web {

PoolExchange::PoolExchange(Session& session)
    : m_session(session), m_shared(session.m_shared), m_config(session.m_config) {}

void PoolExchange::Submit(Prepared p) {
    if (!p.thrown.empty()) {
        m_shared.Failed(p.thrown);
        throw std::runtime_error(p.thrown);  // answered 500 by the guard
    }
    if (p.refusal) return m_session.Send(std::move(*p.refusal));
    std::shared_ptr<Batch> batch = std::move(p.batch);
    const Shape shape = p.shape;
    m_lines = std::move(p.lines);
    if (batch->PieceCount() == 0) return Finish(std::move(batch), shape);
    const bool json = shape == Shape::kJsonText || shape == Shape::kJsonTexts;
    m_session.m_deadline = Clock::time_point::max();  // the translator's own deadline holds now
    batch->SetGame(m_session.m_game);
    const Translator::Admit admit = m_shared.translator.Submit(
        batch, Translator::Clock::now() + m_config.lineTimeout, HandBack(batch, shape));
    if (admit == Translator::Admit::kAnswered) return Finish(std::move(batch), shape);
    if (admit != Translator::Admit::kQueued) {
        if (HoldForEngine(batch, shape)) return;
        Release(std::move(batch));
        return m_session.Send(Busy(admit, json, m_shared.translator.Problem()));
    }
    m_session.WatchForClose(batch);
}

// Posts the finished batch back to the connection's thread, which sees to its answer. The
// connection goes with it, so the plug-in's thread keeps no hold on it.
Translator::HandBack PoolExchange::HandBack(std::shared_ptr<Batch> batch, Shape shape) {
    return
        [self = m_session.shared_from_this(), batch = std::move(batch), shape]() mutable noexcept {
            Session::Back(std::move(self), [batch = std::move(batch), shape](Session& s) mutable {
                s.m_exchange.Finish(std::move(batch), shape);
            });
        };
}

void PoolExchange::Finish(std::shared_ptr<Batch> batch, Shape shape) {
    m_session.StopWatching();
    m_holdUntil = {};
    if (batch->Refused()) {
        Release(std::move(batch));
        return m_session.Send(Busy(Translator::Admit::kFull,
                                   shape == Shape::kJsonText || shape == Shape::kJsonTexts, {}));
    }
    m_shared.translator.CountServed(batch->LineCount());
    const bool feed = m_config.feed && m_config.feed->HasListeners();
    if (batch->LineCount() >= kAnswerElsewhereLines && m_shared.builder)
        return AnswerElsewhere(std::move(batch), shape, feed);
    if (feed) m_config.feed->Publish(AnsweredLines(*batch, m_session.m_client));
    Reply r = Answer(*batch, shape, m_lines);
    m_lines.clear();
    m_session.m_body.clear();
    m_session.Send(std::move(r));
}

// A large answer would hold up every other connection while it is made, and so would
// freeing its batch: both are done on the builder's thread, and the I/O thread only writes.
void PoolExchange::AnswerElsewhere(std::shared_ptr<Batch> batch, Shape shape, bool feed) {
    const Framing framing = m_session.TakeFraming(false);
    asio::post(*m_shared.builder, [self = m_session.shared_from_this(), batch = std::move(batch),
                                   shape, feed, framing, client = m_session.m_client,
                                   lines = std::move(m_lines)]() mutable {
        std::string wire, thrown;
        try {
            if (feed) self->m_config.feed->Publish(AnsweredLines(*batch, client));
            wire = Serialize(Answer(*batch, shape, lines), framing, self->m_config.cors);
        } catch (...) {
            thrown = WhatWasThrown();
        }
        batch.reset();
        lines = {};
        Session::Back(std::move(self), [wire = std::move(wire), thrown = std::move(thrown),
                                        keepAlive = framing.keepAlive](Session& s) mutable {
            s.m_body.clear();
            if (!thrown.empty()) {
                s.m_shared.Failed(thrown);
                // answered 500 by the guard
                throw std::runtime_error(thrown);
            }
            s.Write(std::move(wire), keepAlive);
        });
    });
}

void PoolExchange::SubmitChat(ChatPrepared p) {
    m_session.m_body.clear();
    if (!p.thrown.empty()) {
        m_shared.Failed(p.thrown);
        throw std::runtime_error(p.thrown);  // answered 500 by the guard
    }
    if (p.refusal) return m_session.Send(std::move(*p.refusal));
    m_chat = std::move(p.ask);
    std::shared_ptr<Batch> batch = std::move(p.batch);
    if (batch->PieceCount() == 0) return FinishChat(std::move(batch));
    batch->SetGame(std::move(p.game));
    const Translator::Admit admit = m_shared.translator.Submit(
        batch, Translator::Clock::now() + m_config.lineTimeout,
        [self = m_session.shared_from_this(), batch]() mutable noexcept {
            Session::Back(std::move(self), [batch = std::move(batch)](Session& s) mutable {
                s.m_exchange.FinishChat(std::move(batch));
            });
        });
    if (admit == Translator::Admit::kAnswered) return FinishChat(std::move(batch));
    if (admit != Translator::Admit::kQueued) {
        Release(std::move(batch));
        const std::string problem = m_shared.translator.Problem();
        return m_session.Send(admit == Translator::Admit::kNotReady
                                  ? ChatError(http::status::service_unavailable,
                                              problem.empty()
                                                  ? "the plug-in is not ready"
                                                  : "the plug-in is not ready: " + problem,
                                              "engine_not_ready")
                                  : ChatError(http::status::service_unavailable,
                                              "too many lines waiting; try again", "busy"));
    }
    m_session.WatchForClose(batch);
}

void PoolExchange::FinishChat(std::shared_ptr<Batch> batch) {
    m_session.StopWatching();
    if (batch->Refused()) {
        Release(std::move(batch));
        return m_session.Send(ChatError(http::status::service_unavailable,
                                        "too many lines waiting; try again", "busy"));
    }
    m_shared.translator.CountServed(batch->LineCount());
    const bool feed = m_config.feed && m_config.feed->HasListeners();
    if (batch->LineCount() >= kAnswerElsewhereLines && m_shared.builder) {
        // As Finish does for a large batch: made, and freed, on the builder's thread.
        const Framing framing = m_session.TakeFraming(false);
        asio::post(*m_shared.builder,
                   [self = m_session.shared_from_this(), batch = std::move(batch), feed, framing,
                    client = m_session.m_client, ask = std::exchange(m_chat, {})]() mutable {
                       std::string wire, thrown;
                       try {
                           if (feed) self->m_config.feed->Publish(AnsweredLines(*batch, client));
                           wire = Serialize(ChatAnswer(*batch, ask), framing, self->m_config.cors);
                       } catch (...) {
                           thrown = WhatWasThrown();
                       }
                       batch.reset();
                       Session::Back(std::move(self),
                                     [wire = std::move(wire), thrown = std::move(thrown),
                                      keepAlive = framing.keepAlive](Session& s) mutable {
                                         if (!thrown.empty()) {
                                             s.m_shared.Failed(thrown);
                                             // answered 500 by the guard
                                             throw std::runtime_error(thrown);
                                         }
                                         s.Write(std::move(wire), keepAlive);
                                     });
                   });
        return;
    }
    if (feed) m_config.feed->Publish(AnsweredLines(*batch, m_session.m_client));
    Reply r = ChatAnswer(*batch, m_chat);
    m_chat = {};
    Release(std::move(batch));
    m_session.Send(std::move(r));
}

// A large batch refused is freed off the I/O thread too.
void PoolExchange::Release(std::shared_ptr<Batch> batch) {
    if (!batch || batch->LineCount() < kAnswerElsewhereLines || !m_shared.builder) return;
    asio::post(*m_shared.builder, [batch = std::move(batch)] {});
}

}  // namespace server::web

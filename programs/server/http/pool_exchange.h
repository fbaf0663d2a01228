// A connection's exchange with the pool, apart from the connection's life (Session): a
// request's batch submitted, the pool's answer handed back, the reply made from it (on the
// builder's thread when large), a refused batch freed, and the Unity game translator's line
// held for a starting engine (xunity_hold.cpp). Owned by its Session. Thread: the I/O thread;
// the pool's thread only runs the hand-back, which posts to it, and the builder's thread
// only makes large answers.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "chat_route.h"
#include "http_reply.h"
#include "http_request.h"
#include "http_config.h"
#include "translator.h"

namespace server::web {

class Session;
struct Shared;

// A batch of this many lines or more has its answer made, and is freed, off the I/O thread.
inline constexpr std::size_t kAnswerElsewhereLines = 2048;

class PoolExchange {
  public:
    explicit PoolExchange(Session& session);
    PoolExchange(const PoolExchange&) = delete;
    PoolExchange& operator=(const PoolExchange&) = delete;

    // /translate's batch, or its refusal.
    void Submit(Prepared p);
    // The chat-completions route's batch, or its refusal.
    void SubmitChat(ChatPrepared p);
    // Lets go of the lines of the request in hand, before a closing answer.
    void Drop() { m_lines.clear(); }

  private:
    using Clock = std::chrono::steady_clock;

    Translator::HandBack HandBack(std::shared_ptr<Batch> batch, Shape shape);
    void Finish(std::shared_ptr<Batch> batch, Shape shape);
    void AnswerElsewhere(std::shared_ptr<Batch> batch, Shape shape, bool feed);
    void FinishChat(std::shared_ptr<Batch> batch);
    void Release(std::shared_ptr<Batch> batch);
    // False: answer the refusal now.
    bool HoldForEngine(const std::shared_ptr<Batch>& batch, Shape shape);

    Session& m_session;
    Shared& m_shared;
    const HttpConfig& m_config;
    std::vector<Line> m_lines;        // of a text/plain body, pointing into the session's
    ChatAsk m_chat;                   // of a chat request in hand
    Clock::time_point m_holdUntil{};  // while the line in hand waits for the engine
};

}  // namespace server::web

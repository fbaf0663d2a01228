// One client connection of mirelo-server, on the HTTP I/O thread. Its parts:
// http_session.cpp, the connection's life (reading a request, writing its answer,
// keep-alive, watching for the client hanging up, closing); http_routes.cpp, the routes
// (a request to a batch); its PoolExchange (pool_exchange.*), the batch's way through the
// pool and the pool's answer back to the client; and the pure parts they use,
// http_request.h (request to batch) and http_reply.h (batch to reply).
#pragma once

// Boost 1.74 uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chat_route.h"
#include "http_budget.h"
#include "http_reply.h"
#include "workbench.h"
#include "http_request.h"
#include "http_config.h"
#include "pool_exchange.h"

namespace server::web {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// What the server and all its connections share; it outlives them.
struct Shared {
    Shared(Translator& t, HttpConfig c) : translator(t), config(std::move(c)) {}
    Translator& translator;
    const HttpConfig config;
    SharedBytes bytes;
    std::atomic<std::size_t> connections{0};
    // Where large bodies become batches and large batches answers; one thread, so that
    // what is posted there runs in turn.
    asio::thread_pool* builder = nullptr;

    // A failure inside the server, with what was thrown, for the log.
    void Failed(const std::string& what) const noexcept;
};

// What was thrown, in words: the exception in flight in a catch block.
std::string WhatWasThrown() noexcept;

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Shared& shared);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Start();
    // Called about once a second: ends a read or write that has taken too long. One sweep for
    // all saves setting and cancelling a timer, system calls each, around every operation.
    bool Expire(Clock::time_point now);

  private:
    // Runs a step of this connection. Whatever it throws ends this connection alone, with an
    // answer when one can still be given.
    template <class F>
    void Guarded(F&& step) noexcept {
        try {
            step();
        } catch (...) {
            Recover();
        }
    }
    void Recover() noexcept;  // in a catch block
    // Runs `step(session)` guarded on the connection's thread, from any thread. The connection
    // goes along, so that the thread it came from keeps no hold on it.
    template <class F>
    static void Back(std::shared_ptr<Session> self, F&& step) noexcept {
        Shared& shared = self->m_shared;
        const auto executor = self->m_stream.get_executor();  // before `self` moves
        try {
            asio::post(executor, [self = std::move(self), step = std::forward<F>(step)]() mutable {
                self->Guarded([&] { step(*self); });
            });
        } catch (...) {
            shared.Failed(WhatWasThrown());  // the connection is dropped, which closes it
        }
    }

    // The connection's life: http_session.cpp.
    void SetDeadline(Clock::duration d) { m_deadline = Clock::now() + d; }
    void ReadHead();
    void Parse();
    void ReadMore();
    bool AskForBody();
    std::size_t BodyLimit() const;
    void OnReadError(beast::error_code ec);
    void DropRequest();
    void WatchForClose(const std::shared_ptr<Batch>& batch);
    void ProbeHalfClose(const std::weak_ptr<Batch>& batch);
    void StopWatching();
    Framing TakeFraming(bool close);
    void Send(Reply reply);
    void Write(std::string wire, bool keepAlive);
    void AfterWrite(bool keepAlive);
    void Drain();
    void DrainMore(std::size_t left);
    void Close();

    // The routes: http_routes.cpp.
    void Handle(Request req);
    static WebRequest Web(const Request& req, std::string_view path, std::string_view query);
    static Reply FromWeb(WebAnswer a);
    void HandleWorkbench(const WebRequest& w);
    void HandleGet(std::string_view query);
    void HandlePost(Request& req);
    // The chat-completions route: chat_route.cpp.
    void HandleChat(Request& req, const ChatPath& route);

    // The exchange with the pool answers through the connection.
    friend class PoolExchange;

    tcp::socket m_stream;
    Shared& m_shared;
    const HttpConfig& m_config;
    Clock::time_point m_deadline = Clock::time_point::max();
    // Declared before what it counts, so that it is destroyed after it.
    Account m_account;
    beast::basic_flat_buffer<Alloc> m_buffer;
    std::optional<RequestParser> m_parser;
    bool m_reading = false;  // between the start of a request and its whole arrival
    unsigned m_version = 11;
    bool m_keepAlive = true;
    bool m_preflight = false;
    bool m_head = false;            // the request in hand is HEAD
    bool m_watching = false;        // for the client hanging up while its lines wait
    bool m_probed = false;          // a half-close was probed for the request in hand
    std::string m_client = "http";  // the kind of client the request in hand came from
    std::string m_game;             // the game the request in hand names (folded), or empty
    std::string m_peer;             // the client's address
    CountedString m_body;           // the body that the exchange's lines point into
    PoolExchange m_exchange;
    std::vector<char> m_drain;
};

}  // namespace server::web

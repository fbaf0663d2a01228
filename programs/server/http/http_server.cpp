// Listening, accepting and refusing connections, the sweep of slow ones, and the start and
// stop of the I/O thread. Each connection is a Session (http_session.h).
#include "http_server.h"

#include <cstdio>

#include "event_log.h"
#include "http_session.h"
#include "messages.h"

namespace server {

using namespace web;

namespace {

// After a failed accept (no buffers, too many sockets) the next one waits, doubling from the
// first pause to the longest, so that a failure that stays does not spin the I/O thread.
constexpr auto kFirstAcceptPause = std::chrono::milliseconds(10);
constexpr auto kLongestAcceptPause = std::chrono::milliseconds(1000);

}  // namespace

struct HttpServer::Impl {
    Impl(Translator& t, HttpConfig c)
        : shared(t, std::move(c)),
          refusal(Serialize(Busy("too many connections; try again"), {11, false, false, false},
                            shared.config.cors)),
          acceptor(ioc) {
        shared.builder = &builder;
    }
    // Starts accepting and sweeping unless they are under way.
    void Arm();
    void Accept();
    void AcceptFailed(const beast::error_code& ec);
    void Admit(tcp::socket socket);
    void Refuse(tcp::socket& socket);
    void Sweep();

    Shared shared;  // before the I/O context, whose handlers hold connections
    const std::string refusal;
    asio::io_context ioc{1};
    // After the I/O context: stopped and joined first, so that nothing it runs posts to a
    // context that is gone.
    asio::thread_pool builder{1};
    tcp::acceptor acceptor;
    asio::steady_timer sweeper{ioc};
    asio::steady_timer acceptPause{ioc};
    std::chrono::milliseconds acceptDelay{0};
    int lastAcceptError = 0;  // logged once until an accept succeeds or another error comes
    std::vector<std::weak_ptr<Session>> sessions;
    bool accepting = false;
    bool sweeping = false;
    bool stopped = false;
};

void HttpServer::Impl::Arm() {
    if (stopped) return;
    if (!accepting && acceptor.is_open()) Accept();
    if (!sweeping) Sweep();
}

void HttpServer::Impl::Accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        accepting = false;
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
        // A client that gave up before its connection was taken says nothing of the listener.
        if (ec == asio::error::connection_aborted || ec == asio::error::connection_reset)
            return Accept();
        if (ec) return AcceptFailed(ec);
        acceptDelay = std::chrono::milliseconds(0);
        lastAcceptError = 0;
        Admit(std::move(socket));
        Accept();
    });
    accepting = true;
}

void HttpServer::Impl::AcceptFailed(const beast::error_code& ec) {
    acceptDelay = std::min(kLongestAcceptPause, std::max(kFirstAcceptPause, acceptDelay * 2));
    if (std::exchange(lastAcceptError, ec.value()) != ec.value()) {
        const std::string why =
            programs::Format(programs::Msg::kAcceptFailed,
                             {programs::SystemMessage(static_cast<DWORD>(ec.value())),
                              std::to_string(ec.value()), std::to_string(acceptDelay.count())});
        if (shared.config.events)
            shared.config.events->Add("accept", why);
        else
            std::fprintf(stderr, "mirelo-server: %s\n", why.c_str());
    }
    accepting = true;  // Arm starts no second accept meanwhile
    acceptPause.expires_after(acceptDelay);
    acceptPause.async_wait([this](beast::error_code e) {
        accepting = false;
        if (e || stopped || !acceptor.is_open()) return;
        Accept();
    });
}

void HttpServer::Impl::Admit(tcp::socket socket) {
    // Answers go out whole at once; waiting to fill a segment only adds latency.
    beast::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    if (shared.connections.load() >= kMaxConnections) return Refuse(socket);
    try {
        auto session = std::make_shared<Session>(std::move(socket), shared);
        sessions.push_back(session);
        session->Start();
    } catch (...) {
        // No memory for one more connection: it is closed, the others go on.
        shared.Failed(WhatWasThrown());
    }
}

void HttpServer::Impl::Refuse(tcp::socket& socket) {
    beast::error_code ignored;
    socket.non_blocking(true, ignored);
    socket.write_some(asio::buffer(refusal), ignored);
    socket.shutdown(tcp::socket::shutdown_send, ignored);
    socket.close(ignored);
}

void HttpServer::Impl::Sweep() {
    sweeper.expires_after(std::chrono::seconds(1));
    sweeper.async_wait([this](beast::error_code ec) {
        sweeping = false;
        if (ec) return;
        const Clock::time_point now = Clock::now();
        std::erase_if(sessions, [now](const std::weak_ptr<Session>& w) {
            auto s = w.lock();
            return !s || s->Expire(now);
        });
        Sweep();
    });
    sweeping = true;
}

HttpServer::HttpServer(Translator& translator, HttpConfig config)
    : m_impl(std::make_unique<Impl>(translator, std::move(config))) {}

HttpServer::~HttpServer() = default;

bool HttpServer::Listen(const std::string& host, unsigned short port, ListenFailure& failure) {
    beast::error_code ec;
    const auto address = asio::ip::make_address(host, ec);
    if (ec) {
        failure = {ListenFailure::kBadAddress, 0};
        return false;
    }
    const tcp::endpoint endpoint(address, port);
    auto& a = m_impl->acceptor;
    a.open(endpoint.protocol(), ec);
    if (!ec) a.bind(endpoint, ec);
    if (!ec) a.listen(asio::socket_base::max_listen_connections, ec);
    if (!ec) return true;
    failure.code = ec.value();
    failure.kind = ec == asio::error::address_in_use  ? ListenFailure::kInUse
                   : ec == asio::error::access_denied ? ListenFailure::kDenied
                                                      : ListenFailure::kOther;
    return false;
}

void HttpServer::Run() {
    for (;;) {
        try {
            m_impl->Arm();
            m_impl->ioc.run();
            return;
        } catch (...) {
            // Thrown inside one of Asio's own operations, out of reach of a connection's
            // guard: the operation and its connection are gone with it, the rest goes on.
            m_impl->shared.Failed(WhatWasThrown());
        }
    }
}

void HttpServer::Stop() {
    try {
        asio::post(m_impl->ioc, [impl = m_impl.get()] {
            impl->stopped = true;
            beast::error_code ignored;
            impl->acceptor.close(ignored);
            impl->sweeper.cancel();
            impl->acceptPause.cancel();
            impl->ioc.stop();
        });
    } catch (const std::exception&) {
        m_impl->ioc.stop();
    }
}

}  // namespace server

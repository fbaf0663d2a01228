#include "http_session.h"

#include <cstdio>
#include <stdexcept>

#include "event_log.h"
#include "messages.h"
#include "share.h"

namespace server::web {
namespace {

// A GET may carry a long text in its URL, hence the large head; a field of 64 KiB or more is
// more than the parser can hold, and reading it throws.
constexpr std::size_t kFirstRead = 512;
constexpr std::size_t kReadChunk = 64 << 10;
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kDrainChunk = 16 << 10;
constexpr std::size_t kDrainBytes = 64 << 10;
constexpr char kInterim[] = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

void Shared::Failed(const std::string& what) const noexcept {
    if (config.events)
        config.events->Add("request", programs::Format(programs::Msg::kEventRequestFailed, {what}));
    else
        std::fprintf(stderr, "mirelo-server: %s\n", what.c_str());
}

std::string WhatWasThrown() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

Session::Session(tcp::socket socket, Shared& shared)
    : m_stream(std::move(socket)),
      m_shared(shared),
      m_config(shared.config),
      m_account(shared.bytes),
      m_buffer(kHeadLimit + kReadChunk, Alloc(m_account)),
      m_body(Alloc(m_account)),
      m_exchange(*this) {
    ++m_shared.connections;
}

Session::~Session() {
    --m_shared.connections;
}

void Session::Start() {
    Guarded([&] {
        beast::error_code ignored;
        m_stream.non_blocking(true, ignored);  // for the direct writes in Write
        const tcp::endpoint peer = m_stream.remote_endpoint(ignored);
        if (!ignored) m_peer = peer.address().to_string();
        ReadHead();
    });
}

bool Session::Expire(Clock::time_point now) {
    if (now < m_deadline) return false;
    m_deadline = Clock::time_point::max();
    Close();
    return true;
}

void Session::Recover() noexcept {
    http::status status = http::status::internal_server_error;
    const char* reason = "the server failed on this request";
    try {
        throw;
    } catch (const OverBudget&) {
        status = http::status::service_unavailable;
        reason = "requests in progress hold too much memory; try again";
    } catch (const std::bad_alloc&) {
        status = http::status::service_unavailable;
        reason = "out of memory; try again";
        m_shared.Failed(WhatWasThrown());
    } catch (const std::length_error&) {
        if (m_reading) {
            status = http::status::request_header_fields_too_large;
            reason = "a header field is 64 KiB or longer";
        } else {
            m_shared.Failed(WhatWasThrown());
        }
    } catch (const std::exception&) {
        // While reading, the client's bytes are at fault; after, the server is.
        if (m_reading) {
            status = http::status::bad_request;
            reason = "malformed request";
        } else {
            m_shared.Failed(WhatWasThrown());
        }
    } catch (...) {
        m_shared.Failed(WhatWasThrown());
    }
    try {
        DropRequest();
        Send(Closing(status == http::status::service_unavailable ? Busy(reason)
                                                                 : Error(status, reason)));
    } catch (...) {
        m_shared.Failed(WhatWasThrown());
        Close();
    }
}

void Session::ReadHead() {
    m_head = false;
    m_reading = true;
    m_parser.emplace(std::piecewise_construct, std::make_tuple(Alloc(m_account)),
                     std::make_tuple(Alloc(m_account)));
    m_parser->header_limit(kHeadLimit);
    // The parser checks a stated length as the head ends: the largest any route takes, and
    // each route's own once the head is read.
    m_parser->body_limit(kMaxImportBytes);
    // A large request's buffer goes back; what the client already sent stays.
    if (m_buffer.capacity() > kOwnBytes / 2) m_buffer.shrink_to_fit();
    SetDeadline(m_config.readTimeout);
    Parse();
}

// Feeds the parser what has arrived and reads on until the request is whole. The head is
// taken on its own, so that a client waiting to send its body can be told to go on.
void Session::Parse() {
    while (m_buffer.size() > 0 && !m_parser->is_done()) {
        const bool head = !m_parser->is_header_done();
        beast::error_code ec;
        m_buffer.consume(m_parser->put(m_buffer.data(), ec));
        if (ec == http::error::need_more) break;
        if (ec) return OnReadError(ec);
        if (head && m_parser->is_header_done()) {
            const std::size_t limit = BodyLimit();
            const auto length = m_parser->content_length();
            if (length && *length > limit) return OnReadError(http::error::body_limit);
            m_parser->body_limit(limit);  // a chunked body is counted against it as it comes
            m_parser->eager(true);
            if (AskForBody()) return;
        }
    }
    if (m_parser->is_done()) return Handle(m_parser->release());
    ReadMore();
}

void Session::ReadMore() {
    const std::size_t room = m_buffer.max_size() - m_buffer.size();
    // Only a chunk line or a trailer gets here: the parser ends a long head itself.
    if (room == 0)
        return Send(Closing(Error(http::status::request_header_fields_too_large,
                                  "a chunk header or the trailer is over 1 MiB")));
    const std::size_t n =
        std::min({std::max(kFirstRead, m_buffer.capacity() - m_buffer.size()), kReadChunk, room});
    m_stream.async_read_some(m_buffer.prepare(n),
                             [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                 self->Guarded([&] {
                                     if (ec) return self->OnReadError(ec);
                                     self->m_buffer.commit(n);
                                     self->Parse();
                                 });
                             });
}

// An import takes a file as large as a dictionary file may be; every other body keeps the
// common limit. Read from the head in hand.
std::size_t Session::BodyLimit() const {
    const auto& head = m_parser->get();
    const beast::string_view t = head.target();
    return head.method() == http::verb::post &&
                   TargetOf(std::string_view(t.data(), t.size())).path == "/api/import"
               ? kMaxImportBytes
               : kBodyLimit;
}

// True when the client waits to be told to send its body: that is written first.
bool Session::AskForBody() {
    if (m_parser->is_done() ||
        !beast::iequals(m_parser->get()[http::field::expect], "100-continue"))
        return false;
    asio::async_write(m_stream, asio::buffer(kInterim, sizeof kInterim - 1),
                      [self = shared_from_this()](beast::error_code e, std::size_t) {
                          if (e) return self->Close();
                          self->Guarded([&] { self->Parse(); });
                      });
    return true;
}

void Session::OnReadError(beast::error_code ec) {
    if (ec == http::error::body_limit)
        return Send(
            Closing(Error(http::status::payload_too_large,
                          "the body is over " + std::to_string(BodyLimit() >> 20) + " MiB")));
    if (ec == http::error::header_limit)
        return Send(Closing(Error(http::status::request_header_fields_too_large,
                                  "the request head is over 1 MiB")));
    if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message)
        return Send(
            Closing(Error(http::status::bad_request, "malformed request: " + ec.message())));
    // The client closed, or was too slow to send a whole request: stop waiting for it.
    Close();
}

// Gives back what the request being read holds, before a closing answer.
void Session::DropRequest() {
    m_parser.reset();
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_body = CountedString(Alloc(m_account));
    m_exchange.Drop();
}

// While its lines wait, a client that hangs up takes them back: they are not sent to a
// worker. Data from the client (a request sent ahead) ends the watch; it is read later.
// The end of what it sends may be a half-close only: an HTTP/1.1 client is then sent an
// interim 100 Continue, which a client that has gone answers with a reset.
void Session::WatchForClose(const std::shared_ptr<Batch>& batch) {
    m_watching = true;
    m_stream.async_wait(
        tcp::socket::wait_read,
        [self = shared_from_this(), batch = std::weak_ptr<Batch>(batch)](beast::error_code ec) {
            self->m_watching = false;
            if (ec == asio::error::operation_aborted) return;
            beast::error_code e;
            const std::size_t waiting = ec ? 0 : self->m_stream.available(e);
            if (!ec && !e && waiting > 0) return;
            if (!ec && !e && self->m_version >= 11 && !self->m_probed)
                return self->Guarded([&] { self->ProbeHalfClose(batch); });
            if (auto b = batch.lock()) b->Cancel();
        });
}

void Session::ProbeHalfClose(const std::weak_ptr<Batch>& batch) {
    m_probed = true;
    // On this machine the reset comes back before the first write returns; reading past
    // the end the client sent does not show it, a second write fails on it.
    for (int i = 0; i < 2; ++i) {
        beast::error_code ec;
        m_stream.write_some(asio::buffer(kInterim, sizeof kInterim - 1), ec);
        if (ec && ec != asio::error::would_block) {
            if (auto b = batch.lock()) b->Cancel();
            return;
        }
    }
}

void Session::StopWatching() {
    if (m_watching) {
        beast::error_code ignored;
        m_stream.cancel(ignored);
    }
    m_probed = false;
}

Framing Session::TakeFraming(bool close) {
    return {m_version, m_keepAlive && !close, std::exchange(m_preflight, false), m_head};
}

void Session::Send(Reply reply) {
    const Framing framing = TakeFraming(reply.close);
    Write(Serialize(std::move(reply), framing, m_config.cors), framing.keepAlive);
}

void Session::Write(std::string wire, bool keepAlive) {
    auto out = std::make_shared<std::string>(std::move(wire));
    // A short answer nearly always fits the socket's buffer: written at once it needs no
    // completion from the port, and a full buffer falls back to waiting for it.
    beast::error_code ec;
    std::size_t n = m_stream.write_some(asio::buffer(*out), ec);
    if (ec == asio::error::would_block) {
        ec = {};
        n = 0;
    }
    if (ec) return Close();
    if (n == out->size()) return AfterWrite(keepAlive);
    // What the socket did not take waits for the client to read it.
    const std::size_t rest = out->size() - n;
    m_account.Force(rest);
    SetDeadline(kWriteTimeout);
    asio::async_write(
        m_stream, asio::buffer(*out) + n,
        [self = shared_from_this(), out, keepAlive, rest](beast::error_code e, std::size_t) {
            self->m_account.Give(rest);
            if (e) return self->Close();
            self->Guarded([&] { self->AfterWrite(keepAlive); });
        });
}

void Session::AfterWrite(bool keepAlive) {
    if (!keepAlive) return Drain();
    if (m_buffer.size() == 0) return ReadHead();
    // The client sent its next request already: taken in turn, not by recursion, however
    // many it sent at once.
    asio::post(m_stream.get_executor(),
               [self = shared_from_this()] { self->Guarded([&] { self->ReadHead(); }); });
}

// Ends our side, then reads what the client still sends for a moment, so that closing
// does not reset the connection before it has read the answer. A client that goes on
// sending past kDrainBytes is cut off: many of them would keep this thread busy.
void Session::Drain() {
    DropRequest();
    beast::error_code ignored;
    m_stream.shutdown(tcp::socket::shutdown_send, ignored);
    SetDeadline(kDrainTime);
    m_drain.resize(kDrainChunk);
    DrainMore(kDrainBytes);
}

void Session::DrainMore(std::size_t left) {
    m_stream.async_read_some(asio::buffer(m_drain), [self = shared_from_this(), left](
                                                        beast::error_code ec, std::size_t n) {
        if (ec || n >= left) return self->Close();
        self->Guarded([&] { self->DrainMore(left - n); });
    });
}

void Session::Close() {
    beast::error_code ignored;
    m_stream.shutdown(tcp::socket::shutdown_both, ignored);
    m_stream.close(ignored);
}

}  // namespace server::web

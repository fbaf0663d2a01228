#include "http_server.h"

// Boost 1.74 uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <limits>
#include <optional>
#include <sstream>

#include "text_plan.h"

namespace server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kBodyLimit = 1 << 20;
constexpr std::size_t kHeadLimit = 1 << 20;  // a GET may carry a long text in its URL
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr char kPlain[] = "text/plain; charset=utf-8";
constexpr char kJson[] = "application/json; charset=utf-8";

struct Reply {
    http::status status = http::status::ok;
    std::string body;
    const char* type = kPlain;
    const char* allow = nullptr;  // for 405
    bool retry = false;           // Retry-After: 1
    std::string failed;           // X-Mirelo-Failed: indexes of lines kept as sent
    bool close = false;           // the connection cannot go on
};

Reply Error(http::status status, const std::string& reason, bool json = false) {
    Reply r;
    r.status = status;
    if (json) {
        r.type = kJson;
        r.body = Json{{"error", reason}}.dump() + "\n";
    } else {
        r.body = reason + "\n";
    }
    return r;
}

std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

enum class Shape { kText, kLines, kJsonText, kJsonTexts };

Reply Busy(Translator::Admit admit, bool json) {
    Reply r = Error(http::status::service_unavailable,
                    admit == Translator::Admit::kNotReady ? "the plug-in is not ready"
                                                          : "too many lines waiting; try again",
                    json);
    r.retry = true;
    return r;
}

// The answer for a finished batch, shaped like its request.
Reply Answer(const Batch& batch, Shape shape, const std::vector<Line>& lines) {
    Reply r;
    if (shape == Shape::kText || shape == Shape::kJsonText) {
        const bool json = shape == Shape::kJsonText;
        Batch::Result res = batch.Get(0);
        if (res.outcome == Outcome::kTimedOut)
            return Error(http::status::gateway_timeout, "the plug-in did not answer in time", json);
        if (res.outcome == Outcome::kUntranslated)
            return Error(http::status::unprocessable_entity, "the engine gave no translation",
                         json);
        if (json) {
            r.type = kJson;
            r.body = Dump(Json{{"text", res.text}});
        } else {
            r.body = std::move(res.text);
        }
        return r;
    }
    Json texts = Json::array(), failed = Json::array();
    for (std::size_t i = 0; i < batch.TextCount(); ++i) {
        Batch::Result res = batch.Get(i);
        if (res.outcome != Outcome::kTranslated) {
            failed.push_back(i);
            r.failed += (r.failed.empty() ? "" : ",") + std::to_string(i);
        }
        if (shape == Shape::kLines) {
            r.body += res.text;
            r.body += lines[i].end;
        } else {
            texts.push_back(std::move(res.text));
        }
    }
    if (shape == Shape::kJsonTexts) {
        Json j{{"texts", std::move(texts)}};
        if (!failed.empty()) j["failed"] = std::move(failed);
        r.type = kJson;
        r.body = Dump(j);
        r.failed.clear();
    }
    return r;
}

}  // namespace

namespace {

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Translator& translator, const HttpConfig& config)
        : m_stream(std::move(socket)), m_translator(translator), m_config(config) {}

    void Start() {
        beast::error_code ignored;
        m_stream.non_blocking(true, ignored);  // for the direct writes in Send
        ReadHead();
    }

    // Called about once a second: ends a read or write that has taken too long. One sweep for
    // all saves setting and cancelling a timer, system calls each, around every operation.
    bool Expire(Clock::time_point now) {
        if (now.time_since_epoch().count() < m_deadline.load()) return false;
        m_deadline = kNoDeadline;
        Close();
        return true;
    }

  private:
    void SetDeadline(Clock::duration d) {
        m_deadline = (Clock::now() + d).time_since_epoch().count();
    }

    void ReadHead() {
        m_head = false;
        m_parser.emplace();
        m_parser->body_limit(kBodyLimit);
        m_parser->header_limit(kHeadLimit);
        SetDeadline(m_config.readTimeout);
        http::async_read_header(
            m_stream, m_buffer, *m_parser,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnHead(ec); });
    }

    void OnHead(beast::error_code ec) {
        if (ec) return OnReadError(ec);
        // A client that asks before sending its body is told to go on at once.
        auto& req = m_parser->get();
        if (beast::iequals(req[http::field::expect], "100-continue")) {
            auto cont = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                           req.version());
            http::async_write(m_stream, *cont,
                              [self = shared_from_this(), cont](beast::error_code e, std::size_t) {
                                  if (e) return self->Close();
                                  self->ReadBody();
                              });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        // Under Wine every completion handed through the port costs a round trip to the
        // wineserver; a request without a body is complete already.
        if (m_parser->is_done()) return Handle(m_parser->release());
        http::async_read(m_stream, m_buffer, *m_parser,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec) return self->OnReadError(ec);
                             self->Handle(self->m_parser->release());
                         });
    }

    void OnReadError(beast::error_code ec) {
        if (ec == http::error::body_limit)
            return Send(Closing(Error(http::status::payload_too_large, "the body is over 1 MiB")));
        if (ec == http::error::header_limit)
            return Send(
                Closing(Error(http::status::payload_too_large, "the request head is over 1 MiB")));
        if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message)
            return Send(
                Closing(Error(http::status::bad_request, "malformed request: " + ec.message())));
        // The client closed, or was too slow to send a whole request: stop waiting for it.
        Close();
    }

    static Reply Closing(Reply r) {
        r.close = true;
        return r;
    }

    void Handle(http::request<http::string_body> req) {
        m_keepAlive = req.keep_alive();
        m_version = req.version();
        m_head = req.method() == http::verb::head;
        std::string_view target(req.target().data(), req.target().size());
        // A request may name the server too (absolute form): the route is what follows it.
        std::string absolute;
        const beast::string_view raw = req.target();
        if (beast::iequals(raw.substr(0, 7), "http://") ||
            beast::iequals(raw.substr(0, 8), "https://")) {
            const std::size_t rest = target.find_first_of("/?", target.find("//") + 2);
            absolute = rest == std::string_view::npos ? "/" : std::string(target.substr(rest));
            if (absolute.front() == '?') absolute.insert(0, "/");
            target = absolute;
        }
        const bool get = req.method() == http::verb::get || m_head;
        const std::size_t q = target.find('?');
        const std::string_view path = target.substr(0, q);
        const std::string_view query = q == std::string_view::npos ? "" : target.substr(q + 1);

        if (path == "/status") {
            if (!get) return Send(NotAllowed("GET, HEAD"));
            return Send(Status());
        }
        if (path != "/translate")
            return Send(Error(http::status::not_found, "no such path; use /translate or /status"));
        if (req.method() == http::verb::options && !m_config.cors.empty()) {
            Reply r;
            r.status = http::status::no_content;
            m_preflight = true;
            return Send(std::move(r));
        }
        if (get) {
            bool bad = false;
            std::optional<std::string> text = QueryValue(query, "text", bad);
            if (bad) return Send(Error(http::status::bad_request, "text holds a broken %-escape"));
            if (!text) return Send(Error(http::status::bad_request, "missing text parameter"));
            if (!IsValidUtf8(*text))
                return Send(Error(http::status::bad_request, "text is not valid UTF-8"));
            return Translate({std::move(*text)}, Shape::kText, {});
        }
        if (req.method() != http::verb::post) return Send(NotAllowed("GET, HEAD, POST"));

        const beast::string_view type = req[http::field::content_type];
        const beast::string_view media = type.substr(0, type.find(';'));
        std::string& body = req.body();
        if (beast::iequals(media, "application/json")) return TranslateJson(body);
        if (!media.empty() && !beast::iequals(media, "text/plain"))
            return Send(Error(http::status::unsupported_media_type,
                              "send text/plain (one line per line) or application/json"));
        if (!IsValidUtf8(body))
            return Send(Error(http::status::bad_request, "the body is not valid UTF-8"));
        if (body.rfind("\xEF\xBB\xBF", 0) == 0) body.erase(0, 3);
        m_body = std::move(body);
        std::vector<Line> lines = SplitLines(m_body);
        std::vector<std::string> texts;
        for (const Line& l : lines) texts.emplace_back(l.text);
        Translate(std::move(texts), Shape::kLines, std::move(lines));
    }

    void TranslateJson(const std::string& body) {
        Json j = Json::parse(body, nullptr, false);
        if (j.is_discarded())
            return Send(Error(http::status::bad_request,
                              "the body is not valid JSON (or not UTF-8)", true));
        if (!j.is_object() || j.contains("text") == j.contains("texts"))
            return Send(Error(http::status::bad_request,
                              "give an object with \"text\" or \"texts\"", true));
        if (j.contains("text")) {
            if (!j["text"].is_string())
                return Send(Error(http::status::bad_request, "\"text\" must be a string", true));
            return Translate({j["text"].get<std::string>()}, Shape::kJsonText, {});
        }
        const Json& list = j["texts"];
        if (!list.is_array())
            return Send(
                Error(http::status::bad_request, "\"texts\" must be an array of strings", true));
        std::vector<std::string> texts;
        for (const Json& t : list) {
            if (!t.is_string())
                return Send(Error(http::status::bad_request,
                                  "\"texts\" must be an array of strings", true));
            texts.push_back(t.get<std::string>());
        }
        Translate(std::move(texts), Shape::kJsonTexts, {});
    }

    void Translate(std::vector<std::string> texts, Shape shape, std::vector<Line> lines) {
        auto batch = std::make_shared<Batch>(texts);
        texts.clear();
        m_lines = std::move(lines);
        if (batch->PieceCount() == 0) return Finish(batch, shape);
        const bool json = shape == Shape::kJsonText || shape == Shape::kJsonTexts;
        m_deadline = kNoDeadline;  // the translator's own deadline holds now
        const Translator::Admit admit = m_translator.Submit(
            batch, Translator::Clock::now() + m_config.lineTimeout,
            // Runs on the plug-in's thread, which takes the session over until the answer is
            // written and the next read is started: no operation of the session is pending
            // meanwhile, and handing the answer back through the port would cost a wineserver
            // round trip and a thread switch on every request.
            [self = shared_from_this(), batch, shape] { self->Finish(batch, shape); });
        if (admit != Translator::Admit::kQueued) Send(Busy(admit, json));
    }

    void Finish(const std::shared_ptr<Batch>& batch, Shape shape) {
        m_translator.CountServed(batch->LineCount());
        Send(Answer(*batch, shape, m_lines));
        m_lines.clear();
        m_body.clear();
    }

    static Reply NotAllowed(const char* allow) {
        Reply r = Error(http::status::method_not_allowed, std::string("use ") + allow);
        r.allow = allow;
        return r;
    }

    Reply Status() const {
        const TranslatorStats s = m_translator.GetStats();
        const char* state = "starting";
        switch (m_translator.GetState()) {
            case Translator::State::kReady:
                state = "ready";
                break;
            case Translator::State::kFailed:
                state = "failed";
                break;
            default:
                break;
        }
        Json j{{"version", MIRELO_VERSION},
               {"engine_ready", m_translator.GetState() == Translator::State::kReady},
               {"plugin", state},
               {"lines_served", s.linesServed},
               {"plugin_calls", s.pluginCalls},
               {"cache_hits", s.cacheHits},
               {"engine_lines", s.engineLines},
               {"engine_could_not_take", s.untranslated},
               {"mean_ms_per_engine_line", s.engineLines ? s.engineMillis / s.engineLines : 0.0},
               {"timed_out", s.timedOut},
               {"rejected_busy", s.rejectedBusy},
               {"queued", s.queued},
               {"queue_capacity", s.capacity}};
        Reply r;
        r.type = kJson;
        r.body = Dump(j);
        return r;
    }

    void Send(Reply reply) {
        auto res = std::make_shared<http::response<http::string_body>>(reply.status,
                                                                       m_version ? m_version : 11);
        res->set(http::field::server, "mirelo-server/" MIRELO_VERSION);
        res->set(http::field::content_type, reply.type);
        if (reply.allow) res->set(http::field::allow, reply.allow);
        if (reply.retry) res->set(http::field::retry_after, "1");
        if (!reply.failed.empty()) res->set("X-Mirelo-Failed", reply.failed);
        if (!m_config.cors.empty()) {
            res->set(http::field::access_control_allow_origin, m_config.cors);
            res->set(http::field::vary, "Origin");
            if (m_preflight) {
                res->set(http::field::access_control_allow_methods, "GET, POST");
                res->set(http::field::access_control_allow_headers, "Content-Type");
                m_preflight = false;
            }
        }
        res->body() = std::move(reply.body);
        res->keep_alive(m_keepAlive && !reply.close);
        res->prepare_payload();
        const bool keepAlive = res->keep_alive();
        std::ostringstream text;
        if (m_head)
            text << res->base();  // HEAD: what GET would answer, without the body
        else
            text << *res;
        auto out = std::make_shared<std::string>(std::move(text).str());
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
        SetDeadline(kWriteTimeout);
        asio::async_write(
            m_stream, asio::buffer(*out) + n,
            [self = shared_from_this(), out, keepAlive](beast::error_code e, std::size_t) {
                if (e) return self->Close();
                self->AfterWrite(keepAlive);
            });
    }

    void AfterWrite(bool keepAlive) {
        if (!keepAlive) return Drain();
        ReadHead();
    }

    // Ends our side, then reads what the client still sends for a moment, so that closing
    // does not reset the connection before it has read the answer.
    void Drain() {
        beast::error_code ignored;
        m_stream.shutdown(tcp::socket::shutdown_send, ignored);
        SetDeadline(kDrainTime);
        m_drain.resize(4096);
        m_stream.async_read_some(asio::buffer(m_drain),
                                 [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                     if (ec) return self->Close();
                                     self->Drain();
                                 });
    }

    void Close() {
        beast::error_code ignored;
        m_stream.shutdown(tcp::socket::shutdown_both, ignored);
        m_stream.close(ignored);
    }

    tcp::socket m_stream;
    // Read by the sweep on the I/O thread while the plug-in's thread may own the session.
    static constexpr Clock::rep kNoDeadline = std::numeric_limits<Clock::rep>::max();
    std::atomic<Clock::rep> m_deadline{kNoDeadline};
    Translator& m_translator;
    const HttpConfig& m_config;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    unsigned m_version = 11;
    bool m_keepAlive = true;
    bool m_preflight = false;
    bool m_head = false;  // the request in hand is HEAD
    std::string m_body;   // the plain-text body that m_lines point into
    std::vector<Line> m_lines;
    std::vector<char> m_drain;
};

}  // namespace

struct HttpServer::Impl {
    Impl(Translator& t, HttpConfig c) : translator(t), config(std::move(c)), acceptor(ioc) {}
    void Accept();
    void Sweep();

    Translator& translator;
    const HttpConfig config;
    asio::io_context ioc{1};
    tcp::acceptor acceptor;
    asio::steady_timer sweeper{ioc};
    std::vector<std::weak_ptr<Session>> sessions;
};

void HttpServer::Impl::Accept() {
    acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (!ec) {
            // Answers go out whole at once; waiting to fill a segment only adds latency.
            beast::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            auto session = std::make_shared<Session>(std::move(socket), translator, config);
            sessions.push_back(session);
            session->Start();
        }
        Accept();
    });
}

void HttpServer::Impl::Sweep() {
    sweeper.expires_after(std::chrono::seconds(1));
    sweeper.async_wait([this](beast::error_code ec) {
        if (ec) return;
        const Clock::time_point now = Clock::now();
        std::erase_if(sessions, [now](const std::weak_ptr<Session>& w) {
            auto s = w.lock();
            return !s || s->Expire(now);
        });
        Sweep();
    });
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
    m_impl->Accept();
    m_impl->Sweep();
    m_impl->ioc.run();
}

void HttpServer::Stop() {
    asio::post(m_impl->ioc, [impl = m_impl.get()] {
        beast::error_code ignored;
        impl->acceptor.close(ignored);
        impl->sweeper.cancel();
        impl->ioc.stop();
    });
}

}  // namespace server

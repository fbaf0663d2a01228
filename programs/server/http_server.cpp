#include "http_server.h"

// Boost 1.74 uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cstdio>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "answer_feed.h"
#include "code_pages.h"
#include "dictionary_watch.h"
#include "event_log.h"
#include "messages.h"
#include "mirelo_version.h"
#include "module_path.h"
#include "text_plan.h"
#include "utf8.h"
#include "workbench.h"

namespace server {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// A GET may carry a long text in its URL, hence the large head; a field of 64 KiB or more is
// more than the parser can hold, and reading it throws.
constexpr std::size_t kFirstRead = 512;
constexpr std::size_t kReadChunk = 64 << 10;
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr auto kDrainTime = std::chrono::seconds(2);
constexpr std::size_t kDrainChunk = 16 << 10;
constexpr std::size_t kDrainBytes = 64 << 10;
constexpr char kInterim[] = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr char kPlain[] = "text/plain; charset=utf-8";
constexpr char kJson[] = "application/json; charset=utf-8";

struct Reply {
    http::status status = http::status::ok;
    std::string body;
    std::string type = kPlain;
    const char* allow = nullptr;  // for 405
    bool retry = false;           // Retry-After: 1
    std::string failed;           // X-Mirelo-Failed: indexes of lines kept as sent
    std::size_t failedCount = 0;  // X-Mirelo-Failed-Count
    std::string failedReasons;    // X-Mirelo-Failed-Reasons
    bool close = false;           // the connection cannot go on
    bool workbench = false;       // the page or its /api: never cross-origin, never cached
    bool page = false;            // the page's own files
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

Reply Closing(Reply r) {
    r.close = true;
    return r;
}

// The whole answer as it goes on the wire.
// `headOnly`: what GET would answer, without the body, as HEAD asks.
std::string Serialize(Reply reply, unsigned version, bool keepAlive, const std::string& cors,
                      bool preflight, bool headOnly) {
    http::response<http::string_body> res(reply.status, version);
    res.set(http::field::server, "mirelo-server/" MIRELO_VERSION);
    res.set(http::field::content_type, reply.type);
    if (reply.allow) res.set(http::field::allow, reply.allow);
    if (reply.retry) res.set(http::field::retry_after, "1");
    if (!reply.failed.empty()) {
        res.set("X-Mirelo-Failed", reply.failed);
        res.set("X-Mirelo-Failed-Count", std::to_string(reply.failedCount));
        res.set("X-Mirelo-Failed-Reasons", reply.failedReasons);
    }
    if (reply.workbench) {
        res.set(http::field::cache_control, "no-store");
        res.set("X-Content-Type-Options", "nosniff");
        res.set("Referrer-Policy", "no-referrer");
    }
    if (reply.page) {
        res.set("Content-Security-Policy",
                "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
                "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        res.set("X-Frame-Options", "DENY");
    }
    if (!cors.empty() && !reply.workbench) {
        res.set(http::field::access_control_allow_origin, cors);
        res.set(http::field::vary, "Origin");
        if (preflight) {
            res.set(http::field::access_control_allow_methods, "GET, POST");
            res.set(http::field::access_control_allow_headers, "Content-Type");
        }
    }
    res.body() = std::move(reply.body);
    res.keep_alive(keepAlive && !reply.close);
    res.prepare_payload();
    std::ostringstream text;
    if (headOnly)
        text << res.base();
    else
        text << res;
    return std::move(text).str();
}

Reply Busy(const std::string& reason, bool json = false) {
    Reply r = Error(http::status::service_unavailable, reason, json);
    r.retry = true;
    return r;
}

// `problem`: why the workers cannot start, when known.
Reply Busy(Translator::Admit admit, bool json, const std::string& problem) {
    if (admit != Translator::Admit::kNotReady)
        return Busy("too many lines waiting; try again", json);
    return Busy(
        problem.empty() ? "the plug-in is not ready" : "the plug-in is not ready: " + problem,
        json);
}

struct Failure {
    http::status status;
    const char* reason;  // for a one-text answer
    const char* word;    // in lists of failed lines
};

Failure WhyFailed(Outcome outcome) {
    switch (outcome) {
        case Outcome::kQuarantined:
            return {http::status::unprocessable_entity,
                    "this line ended the engine's process twice; it is not sent to the engine "
                    "for now",
                    "quarantined"};
        case Outcome::kHung:
            return {http::status::gateway_timeout, "the engine hung on this line", "hung"};
        case Outcome::kTimedOut:
            return {http::status::gateway_timeout, "the plug-in did not answer in time",
                    "timed_out"};
        default:
            return {http::status::unprocessable_entity, "the engine gave no translation",
                    "untranslated"};
    }
}

// "0-3,7,9-10", at most `limit` bytes: cut after the last range that fits, with "...".
std::string Ranges(const std::vector<std::size_t>& indexes, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < indexes.size();) {
        std::size_t j = i;
        while (j + 1 < indexes.size() && indexes[j + 1] == indexes[j] + 1) ++j;
        std::string range = std::to_string(indexes[i]);
        if (j > i) range += (j == i + 1 ? "," : "-") + std::to_string(indexes[j]);
        if (out.size() + range.size() + 5 > limit) return out + (out.empty() ? "..." : ",...");
        out += (out.empty() ? "" : ",") + range;
        i = j + 1;
    }
    return out;
}

// X-Mirelo-Failed: every index as before when that fits, else ranges.
std::string FailedHeader(const std::vector<std::size_t>& indexes) {
    std::string plain;
    for (std::size_t i : indexes) {
        plain += (plain.empty() ? "" : ",") + std::to_string(i);
        if (plain.size() > kFailedHeaderBytes) return Ranges(indexes, kFailedHeaderBytes);
    }
    return plain;
}

// X-Mirelo-Failed-Reasons: "untranslated=0-3,7;hung=5", each reason's share of the bound.
std::string ReasonsHeader(const std::map<Outcome, std::vector<std::size_t>>& byReason) {
    std::string out;
    const std::size_t share = kFailedHeaderBytes / std::max<std::size_t>(1, byReason.size());
    for (const auto& [outcome, indexes] : byReason) {
        const std::string word = WhyFailed(outcome).word;
        out += (out.empty() ? "" : ";") + word + "=" + Ranges(indexes, share - word.size() - 2);
    }
    return out;
}

// The answer for a finished batch, shaped like its request.
Reply Answer(const Batch& batch, Shape shape, const std::vector<Line>& lines) {
    Reply r;
    if (shape == Shape::kText || shape == Shape::kJsonText) {
        const bool json = shape == Shape::kJsonText;
        Batch::Result res = batch.Get(0);
        if (res.outcome != Outcome::kTranslated) {
            const Failure why = WhyFailed(res.outcome);
            return Error(why.status, why.reason, json);
        }
        if (json) {
            r.type = kJson;
            r.body = Dump(Json{{"text", res.text}});
        } else {
            r.body = std::move(res.text);
        }
        return r;
    }
    Json texts = Json::array(), failed = Json::array(), reasons = Json::array();
    std::vector<std::size_t> failedIndexes;
    std::map<Outcome, std::vector<std::size_t>> byReason;
    for (std::size_t i = 0; i < batch.TextCount(); ++i) {
        Batch::Result res = batch.Get(i);
        if (res.outcome != Outcome::kTranslated) {
            failedIndexes.push_back(i);
            byReason[res.outcome].push_back(i);
        }
        if (shape == Shape::kLines) {
            r.body += res.text;
            r.body += lines[i].end;
        } else {
            texts.push_back(std::move(res.text));
            if (res.outcome != Outcome::kTranslated) {
                failed.push_back(i);
                reasons.push_back(WhyFailed(res.outcome).word);
            }
        }
    }
    if (shape == Shape::kJsonTexts) {
        Json j{{"texts", std::move(texts)}};
        if (!failed.empty()) {
            j["failed"] = std::move(failed);
            j["failed_reasons"] = std::move(reasons);
        }
        r.type = kJson;
        r.body = Dump(j);
    } else if (!failedIndexes.empty()) {
        r.failed = FailedHeader(failedIndexes);
        r.failedCount = failedIndexes.size();
        r.failedReasons = ReasonsHeader(byReason);
    }
    return r;
}

// What the connections hold for requests not yet answered, beyond each one's own kOwnBytes.
// Connections are released on other threads only when the plug-in's thread or the end of
// the program drops them, hence the atomic.
class Pool {
  public:
    bool Take(std::size_t n) {
        std::size_t used = m_used.load(std::memory_order_relaxed);
        do {
            if (used > kSharedBytes || n > kSharedBytes - used) return false;
        } while (!m_used.compare_exchange_weak(used, used + n, std::memory_order_relaxed));
        return true;
    }
    void Force(std::size_t n) { m_used.fetch_add(n, std::memory_order_relaxed); }
    void Give(std::size_t n) { m_used.fetch_sub(n, std::memory_order_relaxed); }

  private:
    std::atomic<std::size_t> m_used{0};
};

struct OverBudget : std::bad_alloc {
    const char* what() const noexcept override { return "requests in progress hold too much"; }
};

// One connection's bytes: its own allowance first, then the pool.
class Account {
  public:
    explicit Account(Pool& pool) : m_pool(pool) {}
    ~Account() { m_pool.Give(Beyond(m_held)); }
    Account(const Account&) = delete;
    Account& operator=(const Account&) = delete;

    void Take(std::size_t n) {
        if (n > kSharedBytes) throw OverBudget();
        const std::size_t extra = Beyond(m_held + n) - Beyond(m_held);
        if (extra && !m_pool.Take(extra)) throw OverBudget();
        m_held += n;
    }
    // For an answer already made: counted, so that new requests wait for it, never refused.
    void Force(std::size_t n) {
        m_pool.Force(Beyond(m_held + n) - Beyond(m_held));
        m_held += n;
    }
    void Give(std::size_t n) {
        m_pool.Give(Beyond(m_held) - Beyond(m_held - n));
        m_held -= n;
    }

  private:
    static std::size_t Beyond(std::size_t held) { return held > kOwnBytes ? held - kOwnBytes : 0; }
    Pool& m_pool;
    std::size_t m_held = 0;
};

// Puts what a connection's read buffer, parser and body allocate on its account.
template <class T>
class Counted {
  public:
    using value_type = T;
    explicit Counted(Account& account) noexcept : m_account(&account) {}
    template <class U>
    Counted(const Counted<U>& other) noexcept : m_account(other.m_account) {}

    T* allocate(std::size_t n) {
        if (n > kSharedBytes / sizeof(T)) throw OverBudget();
        m_account->Take(n * sizeof(T));
        try {
            return std::allocator<T>().allocate(n);
        } catch (...) {
            m_account->Give(n * sizeof(T));
            throw;
        }
    }
    void deallocate(T* p, std::size_t n) noexcept {
        std::allocator<T>().deallocate(p, n);
        m_account->Give(n * sizeof(T));
    }
    template <class U>
    bool operator==(const Counted<U>& other) const noexcept {
        return m_account == other.m_account;
    }

  private:
    template <class U>
    friend class Counted;
    Account* m_account;
};

using Alloc = Counted<char>;
using Body = http::basic_string_body<char, std::char_traits<char>, Alloc>;
using Request = http::request<Body, http::basic_fields<Alloc>>;
using RequestParser = http::request_parser<Body, Alloc>;
using CountedString = Body::value_type;

// What the server and all its connections share; it outlives them.
struct Shared {
    Shared(Translator& t, HttpConfig c) : translator(t), config(std::move(c)) {}
    Translator& translator;
    const HttpConfig config;
    Pool pool;
    std::atomic<std::size_t> connections{0};
    asio::thread_pool* builder = nullptr;  // where large bodies become batches

    // A failure inside the server, with what was thrown, for the log.
    void Failed(const std::string& what) const noexcept {
        if (config.events)
            config.events->Add("request",
                               programs::Format(programs::Msg::kEventRequestFailed, {what}));
        else
            std::fprintf(stderr, "mirelo-server: %s\n", what.c_str());
    }
};

// What was thrown, in words: the exception in flight in a catch block.
std::string WhatWasThrown() noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "an exception that is not a std::exception";
    }
}

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Shared& shared)
        : m_stream(std::move(socket)),
          m_shared(shared),
          m_config(shared.config),
          m_account(shared.pool),
          m_buffer(kHeadLimit + kReadChunk, Alloc(m_account)),
          m_body(Alloc(m_account)) {
        ++m_shared.connections;
    }
    ~Session() { --m_shared.connections; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Start() {
        Guarded([&] {
            beast::error_code ignored;
            m_stream.non_blocking(true, ignored);  // for the direct writes in Send
            ReadHead();
        });
    }

    // Called about once a second: ends a read or write that has taken too long. One sweep for
    // all saves setting and cancelling a timer, system calls each, around every operation.
    bool Expire(Clock::time_point now) {
        if (now < m_deadline) return false;
        m_deadline = Clock::time_point::max();
        Close();
        return true;
    }

  private:
    // Runs a step of this connection. Whatever it throws ends this connection alone, with an
    // answer when one can still be given.
    template <class F>
    void Guarded(F&& step) noexcept {
        http::status status = http::status::internal_server_error;
        const char* reason = "the server failed on this request";
        try {
            step();
            return;
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

    void SetDeadline(Clock::duration d) { m_deadline = Clock::now() + d; }

    void ReadHead() {
        m_head = false;
        m_reading = true;
        m_parser.emplace(std::piecewise_construct, std::make_tuple(Alloc(m_account)),
                         std::make_tuple(Alloc(m_account)));
        m_parser->header_limit(kHeadLimit);
        m_parser->body_limit(kBodyLimit);
        // A large request's buffer goes back; what the client already sent stays.
        if (m_buffer.capacity() > kOwnBytes / 2) m_buffer.shrink_to_fit();
        SetDeadline(m_config.readTimeout);
        Parse();
    }

    // Feeds the parser what has arrived and reads on until the request is whole. The head is
    // taken on its own, so that a client waiting to send its body can be told to go on.
    void Parse() {
        while (m_buffer.size() > 0 && !m_parser->is_done()) {
            const bool head = !m_parser->is_header_done();
            beast::error_code ec;
            m_buffer.consume(m_parser->put(m_buffer.data(), ec));
            if (ec == http::error::need_more) break;
            if (ec) return OnReadError(ec);
            if (head && m_parser->is_header_done()) {
                m_parser->eager(true);
                if (AskForBody()) return;
            }
        }
        if (m_parser->is_done()) return Handle(m_parser->release());
        ReadMore();
    }

    void ReadMore() {
        const std::size_t room = m_buffer.max_size() - m_buffer.size();
        // Only a chunk line or a trailer gets here: the parser ends a long head itself.
        if (room == 0)
            return Send(Closing(Error(http::status::request_header_fields_too_large,
                                      "a chunk header or the trailer is over 1 MiB")));
        const std::size_t n = std::min(
            {std::max(kFirstRead, m_buffer.capacity() - m_buffer.size()), kReadChunk, room});
        m_stream.async_read_some(m_buffer.prepare(n),
                                 [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                     self->Guarded([&] {
                                         if (ec) return self->OnReadError(ec);
                                         self->m_buffer.commit(n);
                                         self->Parse();
                                     });
                                 });
    }

    // True when the client waits to be told to send its body: that is written first.
    bool AskForBody() {
        if (m_parser->is_done() ||
            !beast::iequals(m_parser->get()[http::field::expect], "100-continue"))
            return false;
        static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(m_stream, asio::buffer(kContinue, sizeof kContinue - 1),
                          [self = shared_from_this()](beast::error_code e, std::size_t) {
                              if (e) return self->Close();
                              self->Guarded([&] { self->Parse(); });
                          });
        return true;
    }

    void OnReadError(beast::error_code ec) {
        if (ec == http::error::body_limit)
            return Send(Closing(Error(http::status::payload_too_large, "the body is over 1 MiB")));
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
    void DropRequest() {
        m_parser.reset();
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        m_body = CountedString(Alloc(m_account));
        m_lines.clear();
    }

    // The route a request's target names, in origin form even when sent in absolute form.
    static std::string RouteOf(beast::string_view raw) {
        const std::string_view target(raw.data(), raw.size());
        if (beast::iequals(raw.substr(0, 7), "http://") ||
            beast::iequals(raw.substr(0, 8), "https://")) {
            const std::size_t rest = target.find_first_of("/?", target.find("//") + 2);
            std::string route =
                rest == std::string_view::npos ? "/" : std::string(target.substr(rest));
            if (route.front() == '?') route.insert(0, "/");
            return route;
        }
        return std::string(target);
    }

    void Handle(Request req) {
        m_reading = false;
        m_keepAlive = req.keep_alive();
        m_version = req.version();
        m_head = req.method() == http::verb::head;
        const std::string target = RouteOf(req.target());
        const beast::string_view agent = req[http::field::user_agent];
        m_client = ClientKind(std::string_view(agent.data(), agent.size()));
        const bool get = req.method() == http::verb::get || m_head;
        const std::size_t q = target.find('?');
        const std::string_view path = std::string_view(target).substr(0, q);
        const std::string_view query =
            q == std::string::npos ? std::string_view() : std::string_view(target).substr(q + 1);

        if (m_config.workbench) {
            const WebRequest w = Web(req, path, query);
            if (const std::optional<Refusal> no = m_config.workbench->CheckHost(w))
                return Send(Error(static_cast<http::status>(no->status), no->reason));
            if (Workbench::Owns(path)) return HandleWorkbench(w);
        }
        if (path == "/status") return Send(get ? Status() : NotAllowed("GET, HEAD"));
        if (path != "/translate")
            return Send(Error(http::status::not_found, "no such path; use /translate or /status"));
        if (req.method() == http::verb::options && !m_config.cors.empty()) {
            Reply r;
            r.status = http::status::no_content;
            m_preflight = true;
            return Send(std::move(r));
        }
        if (get) return HandleGet(query);
        if (req.method() != http::verb::post) return Send(NotAllowed("GET, HEAD, POST"));
        HandlePost(req);
    }

    static WebRequest Web(const Request& req, std::string_view path, std::string_view query) {
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
        w.token = field("X-Mirelo-Token");
        w.contentType = field(http::field::content_type);
        w.body = std::string_view(req.body().data(), req.body().size());
        w.version = req.version();
        return w;
    }

    static Reply FromWeb(WebAnswer a) {
        Reply r;
        r.status = static_cast<http::status>(a.status);
        r.type = std::move(a.type);
        r.body = std::move(a.body);
        r.workbench = true;
        r.page = a.page;
        return r;
    }

    // The workbench answers at once, or later from its own thread (a page waiting for new
    // lines, a correction being checked): that answer is posted back here.
    void HandleWorkbench(const WebRequest& w) {
        std::optional<WebAnswer> a = m_config.workbench->Handle(
            w, [self = shared_from_this(), executor = m_stream.get_executor()](WebAnswer a) {
                try {
                    asio::post(executor, [self, a = std::move(a)]() mutable {
                        self->Guarded([&] { self->Send(FromWeb(std::move(a))); });
                    });
                } catch (...) {
                    // Nothing could be posted: the connection is dropped, which closes it.
                }
            });
        if (a) return Send(FromWeb(std::move(*a)));
        m_deadline = Clock::time_point::max();
    }

    void HandleGet(std::string_view query) {
        bool bad = false;
        std::optional<std::string> text = QueryValue(query, "text", bad);
        if (bad) return Send(Error(http::status::bad_request, "text holds a broken %-escape"));
        if (!text) return Send(Error(http::status::bad_request, "missing text parameter"));
        if (!IsValidUtf8(*text))
            return Send(Error(http::status::bad_request, "text is not valid UTF-8"));
        Prepared p;
        p.shape = Shape::kText;
        p.batch = std::make_shared<Batch>(std::vector<std::string>{std::move(*text)});
        Submit(std::move(p));
    }

    void HandlePost(Request& req) {
        const beast::string_view type = req[http::field::content_type];
        const beast::string_view media = type.substr(0, type.find(';'));
        const bool json = beast::iequals(media, "application/json");
        if (!json && !media.empty() && !beast::iequals(media, "text/plain"))
            return Send(Error(http::status::unsupported_media_type,
                              "send text/plain (one line per line) or application/json"));
        // The lines of a plain body point into it until the answer is made.
        m_body = std::move(req.body());
        const std::string_view body(m_body.data(), m_body.size());
        m_deadline = Clock::time_point::max();
        if (body.size() < kBuildElsewhereBytes || !m_shared.builder)
            return Submit(json ? PrepareJson(body) : PreparePlain(body));
        // A large body would hold up every other connection while it is cut into lines.
        asio::post(*m_shared.builder, [self = shared_from_this(), body, json] {
            Prepared p;
            try {
                p = json ? PrepareJson(body) : PreparePlain(body);
            } catch (...) {
                p.thrown = WhatWasThrown();
            }
            try {
                asio::post(self->m_stream.get_executor(), [self, p = std::move(p)]() mutable {
                    self->Guarded([&] { self->Submit(std::move(p)); });
                });
            } catch (...) {
                self->m_shared.Failed(WhatWasThrown());  // the connection is dropped
            }
        });
    }

    // A request turned into its batch, or the answer that refuses it.
    struct Prepared {
        std::optional<Reply> refusal;
        std::shared_ptr<Batch> batch;
        Shape shape = Shape::kText;
        std::vector<Line> lines;
        std::string thrown;  // what building it threw, off the I/O thread
    };

    // Any thread: only `body` is read.
    static Prepared PreparePlain(std::string_view body) {
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

    static Prepared PrepareJson(std::string_view body) {
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
            p.batch =
                std::make_shared<Batch>(std::vector<std::string>{j["text"].get<std::string>()});
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

    void Submit(Prepared p) {
        if (!p.thrown.empty()) {
            m_shared.Failed(p.thrown);
            throw std::runtime_error(p.thrown);  // answered 500 by the guard
        }
        if (p.refusal) return Send(std::move(*p.refusal));
        const std::shared_ptr<Batch> batch = std::move(p.batch);
        const Shape shape = p.shape;
        m_lines = std::move(p.lines);
        if (batch->PieceCount() == 0) return Finish(*batch, shape);
        const bool json = shape == Shape::kJsonText || shape == Shape::kJsonTexts;
        m_deadline = Clock::time_point::max();  // the translator's own deadline holds now
        const Translator::Admit admit = m_shared.translator.Submit(
            batch, Translator::Clock::now() + m_config.lineTimeout, HandBack(batch, shape));
        if (admit == Translator::Admit::kAnswered) return Finish(*batch, shape);
        if (admit != Translator::Admit::kQueued)
            return Send(Busy(admit, json, m_shared.translator.Problem()));
        WatchForClose(batch);
    }

    // While its lines wait, a client that hangs up takes them back: they are not sent to a
    // worker. Data from the client (a request sent ahead) ends the watch; it is read later.
    // The end of what it sends may be a half-close only: an HTTP/1.1 client is then sent an
    // interim 100 Continue, which a client that has gone answers with a reset.
    void WatchForClose(const std::shared_ptr<Batch>& batch) {
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

    void ProbeHalfClose(const std::weak_ptr<Batch>& batch) {
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

    // Posts the finished batch back to this connection's thread, which makes and writes the
    // answer. The connection goes with it, so the plug-in's thread keeps no hold on it.
    Translator::HandBack HandBack(std::shared_ptr<Batch> batch, Shape shape) {
        return [self = shared_from_this(), executor = m_stream.get_executor(),
                batch = std::move(batch), shape]() mutable noexcept {
            try {
                asio::post(executor, [self = std::move(self), batch = std::move(batch), shape] {
                    self->Guarded([&] { self->Finish(*batch, shape); });
                });
            } catch (...) {
                // Nothing could be posted: the connection is dropped, which closes it.
            }
        };
    }

    void Finish(const Batch& batch, Shape shape) {
        if (m_watching) {
            beast::error_code ignored;
            m_stream.cancel(ignored);
        }
        m_probed = false;
        m_shared.translator.CountServed(batch.LineCount());
        if (m_config.feed && m_config.feed->HasListeners())
            m_config.feed->Publish(AnsweredLines(batch, m_client));
        Reply r = Answer(batch, shape, m_lines);
        m_lines.clear();
        m_body.clear();
        Send(std::move(r));
    }

    static Reply NotAllowed(const char* allow) {
        Reply r = Error(http::status::method_not_allowed, std::string("use ") + allow);
        r.allow = allow;
        return r;
    }

    Reply Status() const {
        const PoolSnapshot p = m_shared.translator.Snapshot();
        const TranslatorStats& s = p.stats;
        const char* state = "starting";
        switch (p.state) {
            case Translator::State::kReady:
                state = "ready";
                break;
            case Translator::State::kFailed:
                state = "failed";
                break;
            case Translator::State::kRetrying:
                state = "retrying";
                break;
            default:
                break;
        }
        // "server" tells a client (the Textractor extension) that the port is Mirelo's.
        Json j{{"server", "mirelo-server"},
               {"version", MIRELO_VERSION},
               {"commit", MIRELO_COMMIT},
               {"engine_ready", p.state == Translator::State::kReady},
               {"plugin", state},
               {"plugin_problem", p.problem},
               {"lines_served", s.linesServed},
               {"plugin_calls", s.pluginCalls},
               {"cache_hits", s.cacheHits},
               {"recent_hits", s.recentHits},
               {"engine_lines", s.engineLines},
               {"engine_could_not_take", s.untranslated},
               {"mean_ms_per_engine_line", s.engineLines ? s.engineMillis / s.engineLines : 0.0},
               {"timed_out", s.timedOut},
               {"rejected_busy", s.rejectedBusy},
               {"cancelled", s.cancelled},
               {"queued", s.queued},
               {"queue_capacity", s.capacity},
               {"workers_ready", s.workers},
               {"quarantined_answers", s.quarantined},
               {"quarantined", p.quarantined}};
        Json workers = Json::array();
        for (const WorkerStatus& w : p.workers)
            workers.push_back({{"pid", w.pid},
                               {"state", w.state},
                               {"lines", w.lines},
                               {"restarts", w.restarts},
                               {"last_fault", w.lastFault}});
        j["workers"] = std::move(workers);
        Json events = Json::array();
        if (m_config.events)
            for (const LoggedEvent& e : m_config.events->Recent())
                events.push_back({{"time", e.time}, {"kind", e.kind}, {"text", e.text}});
        j["events"] = std::move(events);
        // Which server this is and which dictionary its plug-in reads, for a client that
        // found a server it did not start.
        j["folder"] = mirelo::WideToUtf8(mirelo::ModuleFolder(nullptr));
        if (const DictionaryWatch* d = m_config.dictionary) {
            j["dictionary"] = mirelo::WideToUtf8(d->Folder());
            j["dictionary_problems"] = d->Problems();
        }
        Reply r;
        r.type = kJson;
        r.body = Dump(j);
        return r;
    }

    void Send(Reply reply) {
        const bool keepAlive = m_keepAlive && !reply.close;
        auto out = std::make_shared<std::string>(
            Serialize(std::move(reply), m_version, keepAlive, m_config.cors,
                      std::exchange(m_preflight, false), m_head));
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

    void AfterWrite(bool keepAlive) {
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
    void Drain() {
        DropRequest();
        beast::error_code ignored;
        m_stream.shutdown(tcp::socket::shutdown_send, ignored);
        SetDeadline(kDrainTime);
        m_drain.resize(kDrainChunk);
        DrainMore(kDrainBytes);
    }

    void DrainMore(std::size_t left) {
        m_stream.async_read_some(asio::buffer(m_drain), [self = shared_from_this(), left](
                                                            beast::error_code ec, std::size_t n) {
            if (ec || n >= left) return self->Close();
            self->Guarded([&] { self->DrainMore(left - n); });
        });
    }

    void Close() {
        beast::error_code ignored;
        m_stream.shutdown(tcp::socket::shutdown_both, ignored);
        m_stream.close(ignored);
    }

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
    CountedString m_body;           // the plain-text body that m_lines point into
    std::vector<Line> m_lines;
    std::vector<char> m_drain;
};

}  // namespace

struct HttpServer::Impl {
    Impl(Translator& t, HttpConfig c)
        : shared(t, std::move(c)),
          refusal(Serialize(Busy("too many connections; try again"), 11, false, shared.config.cors,
                            false, false)),
          acceptor(ioc) {
        shared.builder = &builder;
    }
    // Starts accepting and sweeping unless they are under way.
    void Arm();
    void Accept();
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
        if (!ec) Admit(std::move(socket));
        Accept();
    });
    accepting = true;
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
            impl->ioc.stop();
        });
    } catch (const std::exception&) {
        m_impl->ioc.stop();
    }
}

}  // namespace server

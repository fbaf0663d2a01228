// Answers as mirelo-server words them: errors, refusals, a finished batch shaped like its
// request, and /status. Pure: no socket, no lock; any thread may make one.
#pragma once

#include <boost/beast/http/status.hpp>

#include <cstddef>
#include <string>
#include <vector>

#include "text_plan.h"
#include "translator.h"

namespace server {

struct HttpConfig;

namespace web {

namespace http = boost::beast::http;

inline constexpr char kPlain[] = "text/plain; charset=utf-8";
inline constexpr char kJson[] = "application/json; charset=utf-8";

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

// How a request asked, and so how its answer is shaped.
enum class Shape { kText, kLines, kJsonText, kJsonTexts };

Reply Error(http::status status, const std::string& reason, bool json = false);
Reply Closing(Reply r);
Reply NotAllowed(const char* allow);
Reply Busy(const std::string& reason, bool json = false);
// `problem`: why the workers cannot start, when known.
Reply Busy(Translator::Admit admit, bool json, const std::string& problem);

// The answer for a finished batch. `lines`: a text/plain request's lines, whose ends it keeps.
Reply Answer(const Batch& batch, Shape shape, const std::vector<Line>& lines);

Reply Status(const PoolSnapshot& pool, const HttpConfig& config);

// How the answer goes on the wire, besides the reply itself.
struct Framing {
    unsigned version = 11;
    bool keepAlive = true;
    bool preflight = false;
    bool headOnly = false;  // what GET would answer, without the body, as HEAD asks
};
std::string Serialize(Reply reply, const Framing& framing, const std::string& cors);

}  // namespace web
}  // namespace server

// What the HTTP side is told at start and the limits it holds every client to; the server, its
// sessions and its replies read these, so they stand apart from the server itself.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace server {

class AnswerFeed;
class EventLog;
class DictionaryWatch;
class Workbench;

// What a client can make the server hold. Past any of these it gets an answer and its
// connection is closed; the server goes on.
inline constexpr std::size_t kHeadLimit = 1 << 20;  // request line and header fields: else 431
inline constexpr std::size_t kBodyLimit = 1 << 20;  // else 413
// Beyond this, one more connection is answered 503 and closed at once.
inline constexpr std::size_t kMaxConnections = 256;
// Each connection may hold this much for the request it reads and answers on its own...
inline constexpr std::size_t kOwnBytes = 64 << 10;
// ...and all of them together this much more; a request needing more gets 503 and is closed.
inline constexpr std::size_t kSharedBytes = 64 << 20;

struct HttpConfig {
    std::string cors;                      // empty: no cross-origin headers at all
    std::chrono::seconds lineTimeout{60};  // a request's lines must start within this
    std::chrono::seconds readTimeout{20};  // to read one whole request, or to wait idle
    EventLog* events = nullptr;            // failures go there, and /status shows its recent events
    const DictionaryWatch* dictionary = nullptr;  // /status shows its folder and problems
    const AnswerFeed* feed = nullptr;             // each answered request's lines go there
    Workbench* workbench = nullptr;  // "/" and /api/..., and the Host check for every request
};

// A text/plain batch's failed lines go in headers of at most this many bytes each; past it,
// as ranges, and past that cut short with "...", with X-Mirelo-Failed-Count for the count.
inline constexpr std::size_t kFailedHeaderBytes = 4096;
// A request body from this size on is turned into lines off the I/O thread.
inline constexpr std::size_t kBuildElsewhereBytes = 64 << 10;

}  // namespace server

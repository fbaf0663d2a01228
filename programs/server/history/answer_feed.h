#pragma once
// Every line the server has answered, as it is answered: the history and the workbench's live
// view listen here, so neither sits on the path of a request.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "batch.h"

namespace server {

struct AnsweredLine {
    std::chrono::system_clock::time_point time;
    std::string game;         // checked and folded; empty when the client named none
    std::string client;       // "textractor", "xunity", "file", "workbench" or "http"
    std::string source;       // UTF-8, one text of the request as the client sent it
    std::string translation;  // UTF-8; the source itself when not translated
    Outcome outcome = Outcome::kTranslated;
    bool corrected = false;  // kTranslated, by a `line` entry
};

class AnswerFeed {
  public:
    // Listeners are called on the publishing thread (the HTTP I/O thread, its builder thread
    // for a large batch, or the file job's) with each request's lines together: they must not
    // block, and must not throw.
    using Listener = std::function<void(const std::vector<AnsweredLine>&)>;
    // Before the server starts serving; listeners stay for the server's life.
    void Listen(Listener listener) { m_listeners.push_back(std::move(listener)); }
    bool HasListeners() const { return !m_listeners.empty(); }
    void Publish(const std::vector<AnsweredLine>& lines) const {
        if (lines.empty()) return;
        for (const Listener& l : m_listeners) l(lines);
    }

  private:
    std::vector<Listener> m_listeners;
};

// The client kind a request's User-Agent names ("http" when it names none we know).
std::string ClientKind(std::string_view userAgent);

// The lines of a finished batch, ready to publish.
std::vector<AnsweredLine> AnsweredLines(const Batch& batch, const std::string& client);

}  // namespace server

// The HTTP side of mirelo-server: keep-alive connections, the routes, and the answers built
// from what the translator gives back. Every connection lives on the thread that calls Run:
// the translator's completions are posted back to it, so no socket is touched by two threads.
#pragma once

#include <memory>
#include <string>

#include "http_config.h"
#include "translator.h"

namespace server {

class HttpServer {
  public:
    // `translator` must be stopped before the server is destroyed: what it still holds
    // belongs to the server's connections.
    HttpServer(Translator& translator, HttpConfig config);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Why Listen failed; the program words it.
    struct ListenFailure {
        enum Kind { kBadAddress, kInUse, kDenied, kOther } kind = kOther;
        int code = 0;  // the system's error code
    };
    // `host` is an IP address.
    bool Listen(const std::string& host, unsigned short port, ListenFailure& failure);
    // Serves until Stop. Nothing a client sends ends it.
    void Run();
    // From any thread, while the server exists.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace server

// The HTTP side of mirelo-server: keep-alive connections, the routes, and the answers built
// from what the translator gives back. Runs on the thread that calls Run.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "translator.h"

namespace server {

struct HttpConfig {
    std::string cors;                      // empty: no cross-origin headers at all
    std::chrono::seconds lineTimeout{60};  // a request's lines must start within this
    std::chrono::seconds readTimeout{20};  // to read one whole request, or to wait idle
};

class HttpServer {
  public:
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
    // Serves until Stop.
    void Run();
    // From any thread.
    void Stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace server

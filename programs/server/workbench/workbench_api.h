// What a request to the workbench is, and what it answers: shared by the routes (workbench.*),
// the live view (live_view.*), the pattern trials (pattern_trial.*) and the HTTP side that
// fills them in. Plain data; a WebRequest's fields point into the connection's buffers.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace server {

struct WebRequest {
    std::string_view method;  // "GET", "POST", ...
    std::string_view path;
    std::string_view query;
    std::string_view host;
    bool hostGiven = false;
    std::string_view origin;
    bool originGiven = false;
    std::string_view fetchSite;  // Sec-Fetch-Site
    std::string_view token;      // X-Mirelo-Token
    std::string_view contentType;
    std::string_view body;
    unsigned version = 11;
    std::string_view peer;  // the client's address, for what each client may do at once
};

struct WebAnswer {
    int status = 200;
    std::string type = "application/json; charset=utf-8";
    std::string body;
    bool page = false;  // the page's own files: sent with their security headers
};

// An answer given later, from a thread of the workbench's own.
using Later = std::function<void(WebAnswer)>;

}  // namespace server

// A request turned into what the pool takes: its route, and its body or query made into a
// batch. Pure: no socket, no lock; a large body is made into a batch off the I/O thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http_reply.h"

namespace server::web {

// A request turned into its batch, or the answer that refuses it.
struct Prepared {
    std::optional<Reply> refusal;
    std::shared_ptr<Batch> batch;
    Shape shape = Shape::kText;
    std::vector<Line> lines;  // of a text/plain body, pointing into it
    std::string thrown;       // what building it threw, off the I/O thread
};

// GET /translate?text=...
Prepared PrepareQuery(std::string_view query);
// POST /translate, text/plain: one line per line, each line's end kept.
Prepared PreparePlain(std::string_view body);
// POST /translate, application/json: {"text": ...} or {"texts": [...]}.
Prepared PrepareJson(std::string_view body);

// A request's target in origin form (even when sent in absolute form), cut at the '?'.
struct Target {
    std::string path;
    std::string query;
};
Target TargetOf(std::string_view raw);

}  // namespace server::web

#include "answer_feed.h"

#include <algorithm>
#include <cctype>

namespace server {

std::string ClientKind(std::string_view userAgent) {
    std::string lower(userAgent);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("mirelo translate") != std::string::npos) return "textractor";
    if (lower.find("xunity") != std::string::npos) return "xunity";
    // The chat-completions client libraries name themselves so.
    if (lower.find("openai") != std::string::npos) return "chat";
    return "http";
}

std::vector<AnsweredLine> AnsweredLines(const Batch& batch, const std::string& client) {
    std::vector<AnsweredLine> lines;
    lines.reserve(batch.TextCount());
    const auto now = std::chrono::system_clock::now();
    for (std::size_t i = 0; i < batch.TextCount(); ++i) {
        Batch::Result r = batch.Get(i);
        lines.push_back({now, batch.Game(), client, batch.Source(i), std::move(r.text), r.outcome,
                         r.corrected});
    }
    return lines;
}

}  // namespace server

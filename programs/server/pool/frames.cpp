#include "frames.h"

namespace server {
namespace {

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::string EncodeFrame(std::string_view payload) {
    std::string out;
    out.reserve(kFrameHeader + payload.size());
    PutU32(out, static_cast<std::uint32_t>(payload.size()));
    out.append(payload);
    return out;
}

std::optional<std::uint32_t> FrameLength(const unsigned char (&header)[kFrameHeader],
                                         std::uint32_t bound) {
    const std::uint32_t n = GetU32(header);
    if (n > bound) return std::nullopt;
    return n;
}

std::string EncodeStarted(StartResult result, std::string_view message) {
    std::string out(1, static_cast<char>(result));
    out.append(message);
    return out;
}

std::optional<Started> DecodeStarted(std::string_view payload) {
    if (payload.empty() || (payload[0] != 'R' && payload[0] != 'F' && payload[0] != 'I'))
        return std::nullopt;
    return Started{static_cast<StartResult>(payload[0]), std::string(payload.substr(1))};
}

std::string EncodeReply(const LineReply& r) {
    std::string out;
    out.push_back(static_cast<char>(r.reply));
    out.push_back(r.cacheHit ? '1' : '0');
    PutU32(out, r.micros);
    out.append(r.text);
    return out;
}

std::optional<LineReply> DecodeReply(std::string_view payload) {
    if (payload.size() < 6) return std::nullopt;
    LineReply r;
    const char kind = payload[0];
    if (kind != 'T' && kind != 'U' && kind != 'G') return std::nullopt;
    if (payload[1] != '0' && payload[1] != '1') return std::nullopt;
    r.reply = static_cast<Reply>(kind);
    r.cacheHit = payload[1] == '1';
    r.micros = GetU32(reinterpret_cast<const unsigned char*>(payload.data() + 2));
    r.text = std::string(payload.substr(6));
    if (r.reply != Reply::kTranslated && !r.text.empty()) return std::nullopt;
    return r;
}

}  // namespace server

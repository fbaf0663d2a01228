// Messages between mirelo-server and its worker processes: each frame is its payload's length
// (4 bytes, little-endian) and the payload. A reader checks the length against a bound before
// it allocates anything, so a broken or hostile peer cannot make it take unbounded memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace server {

inline constexpr std::size_t kFrameHeader = 4;
// Far above any line or answer (a piece is at most a few hundred bytes, an answer below 64 KiB).
inline constexpr std::uint32_t kMaxFrame = 1u << 20;

std::string EncodeFrame(std::string_view payload);
// The payload length a header announces; nullopt when it is over `bound`.
std::optional<std::uint32_t> FrameLength(const unsigned char (&header)[kFrameHeader],
                                         std::uint32_t bound = kMaxFrame);

// What a worker says first: its plug-in started, or why it did not. kInitFailed (the plug-in
// loaded but OnPluginInit returned 0, e.g. no engine where it looked) may pass once the user
// has put things right; kLoadFailed (no usable plug-in, no window) will not.
enum class StartResult : char { kReady = 'R', kLoadFailed = 'F', kInitFailed = 'I' };
std::string EncodeStarted(StartResult result, std::string_view message);
struct Started {
    StartResult result = StartResult::kLoadFailed;
    std::string message;
};
std::optional<Started> DecodeStarted(std::string_view payload);

// A worker's answer to one line. kGaveUp: Translate returned 0 (the plug-in stopped waiting
// for the engine); kUntranslated: it returned 1 and left the destination untouched.
enum class Reply : char { kTranslated = 'T', kUntranslated = 'U', kGaveUp = 'G' };
struct LineReply {
    Reply reply = Reply::kGaveUp;
    bool cacheHit = false;
    std::uint32_t micros = 0;  // time in Translate
    std::string text;          // UTF-8, kTranslated only
};
std::string EncodeReply(const LineReply& reply);
std::optional<LineReply> DecodeReply(std::string_view payload);

}  // namespace server

// A user's file replaced whole: a reader sees the old file or the new one, never part of one.
#pragma once

#include <filesystem>
#include <string>

namespace server {

// Writes `bytes` to a temporary file beside `path`, flushes it, then moves it over `path`.
// false with a reason on failure; the old file is then left as it was.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string* why);

}  // namespace server

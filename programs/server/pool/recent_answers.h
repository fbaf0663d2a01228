// Answers given a moment ago, so that a line asked again at once (a client's retry, the same
// sentence from several hooks) never waits behind a worker. Short-lived, so that a changed
// user dictionary shows within a second of the plug-in's own reload; bounded in bytes.
// Guarded by the pool's lock (see supervisor.h).
#pragma once

#include <chrono>
#include <string>
#include <unordered_map>

namespace server {

class RecentAnswers {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kFor = std::chrono::seconds(1);
    static constexpr std::size_t kBytes = 4 << 20;

    // The answer to a Shift-JIS line (by LineKey, so per game) given within kFor, or null.
    const std::string* Find(const std::string& sjis, Clock::time_point now) const;
    void Remember(const std::string& sjis, const std::string& answer, Clock::time_point now);
    void Clear();

  private:
    struct Entry {
        std::string answer;  // UTF-8
        Clock::time_point until;
    };
    std::unordered_map<std::string, Entry> m_entries;
    std::size_t m_bytes = 0;
};

}  // namespace server

// What the pool has learnt about single lines (by LineKey): those that ended or hung workers,
// answered failed at once for a while, and those the engine has answered, which go first while
// another worker is on a line never seen. Guarded by the pool's lock (see supervisor.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace server {

// A line as the pool remembers and joins it: the same text asked for two games is two lines,
// since each game's own entries may translate it otherwise. The common entries' key is the
// line itself; Shift-JIS lines hold no NUL.
inline std::string LineKey(const std::string& game, const std::string& sjis) {
    if (game.empty()) return sjis;
    std::string key = game;
    key += '\0';
    key += sjis;
    return key;
}
inline std::string_view LineOfKey(std::string_view key) {
    const std::size_t nul = key.find('\0');
    return nul == std::string_view::npos ? key : key.substr(nul + 1);
}
inline std::string_view GameOfKey(std::string_view key) {
    const std::size_t nul = key.find('\0');
    return nul == std::string_view::npos ? std::string_view() : key.substr(0, nul);
}

class LineRecord {
  public:
    using Clock = std::chrono::steady_clock;
    // A line that ended or hung a worker may have done so for a reason that passes (a
    // dictionary entry, a state of the engine): after this long it is tried again.
    static constexpr auto kForgetAfter = std::chrono::minutes(10);
    // Lines known to be answered: enough for hours of a game's text, a few MiB at most.
    static constexpr std::size_t kGoodLines = 100000;

    enum class Verdict { kUnknown, kGood, kQuarantined, kHung };

    Verdict Find(const std::string& sjis, Clock::time_point now) {
        const auto it = m_bad.find(sjis);
        if (it != m_bad.end()) {
            if (now < it->second.until)
                return it->second.hung ? Verdict::kHung : Verdict::kQuarantined;
            m_bad.erase(it);
        }
        return m_good.contains(Hash(sjis)) ? Verdict::kGood : Verdict::kUnknown;
    }
    void Quarantine(const std::string& sjis, Clock::time_point now) {
        m_bad[sjis] = {false, now + kForgetAfter};
    }
    void Hung(const std::string& sjis, Clock::time_point now) {
        m_bad[sjis] = {true, now + kForgetAfter};
    }
    void Good(const std::string& sjis) {
        if (m_good.size() >= kGoodLines) m_good.clear();
        m_good.insert(Hash(sjis));
    }
    // The dictionary or the options changed: what failed may pass now.
    void Forget() { m_bad.clear(); }

    // By LineKey: a player is shown the game as well as the line.
    std::vector<std::string> Quarantined(Clock::time_point now) const {
        std::vector<std::string> out;
        for (const auto& [key, bad] : m_bad)
            if (!bad.hung && now < bad.until) out.push_back(key);
        return out;
    }

  private:
    static std::uint64_t Hash(const std::string& s) {
        std::uint64_t h = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
        return h;
    }
    struct Bad {
        bool hung;
        Clock::time_point until;
    };
    std::map<std::string, Bad> m_bad;  // Shift-JIS
    std::unordered_set<std::uint64_t> m_good;
};

}  // namespace server

// How soon workers may be started again: the pause after a failed start, and the restart
// intensity (as a supervisor of an Erlang/OTP kind has): past kDeathLimit workers ended by
// their own line within kDeathWindow, no worker is started for kDeathPause. Decides only; the
// supervisor keeps the timers. Pool's thread only.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>

namespace server {

class RestartLimit {
  public:
    using Clock = std::chrono::steady_clock;
    // A worker that cannot start is tried again after a pause that doubles up to the longest,
    // and is short again once it has been ready.
    static constexpr auto kFirstRetry = std::chrono::seconds(1);
    static constexpr auto kLongestRetry = std::chrono::seconds(30);
    // A run where one line in twenty ends its worker stays well under this; a crash loop does
    // not (every line ends its worker, which is replaced as fast as it starts).
    static constexpr std::size_t kDeathLimit = 10;
    static constexpr auto kDeathWindow = std::chrono::seconds(5);
    static constexpr auto kDeathPause = std::chrono::seconds(15);

    static std::chrono::seconds NextRetry(std::chrono::seconds last) {
        return std::min<std::chrono::seconds>(
            kLongestRetry, std::max<std::chrono::seconds>(kFirstRetry, last * 2));
    }

    // Counts a worker its own line ended: true when a pause begins now.
    bool Died(Clock::time_point now);
    // The pause is over; the count starts afresh (deaths of workers that went on running
    // meanwhile are no loop).
    void Resume();
    bool Paused() const { return m_pausedUntil.has_value(); }
    unsigned SecondsLeft(Clock::time_point now) const;
    std::size_t Deaths() const { return m_deaths.size(); }

  private:
    std::deque<Clock::time_point> m_deaths;  // within the window
    std::optional<Clock::time_point> m_pausedUntil;
};

}  // namespace server

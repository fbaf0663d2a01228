#include "restart_limit.h"

namespace server {

bool RestartLimit::Died(Clock::time_point now) {
    m_deaths.push_back(now);
    while (now - m_deaths.front() > kDeathWindow) m_deaths.pop_front();
    if (m_deaths.size() <= kDeathLimit || m_pausedUntil) return false;
    m_pausedUntil = now + kDeathPause;
    return true;
}

void RestartLimit::Resume() {
    m_pausedUntil.reset();
    m_deaths.clear();
}

unsigned RestartLimit::SecondsLeft(Clock::time_point now) const {
    if (!m_pausedUntil || *m_pausedUntil <= now) return 0;
    return static_cast<unsigned>(
        std::chrono::ceil<std::chrono::seconds>(*m_pausedUntil - now).count());
}

}  // namespace server

#include "recent_answers.h"

namespace server {

const std::string* RecentAnswers::Find(const std::string& sjis, Clock::time_point now) const {
    const auto it = m_entries.find(sjis);
    if (it == m_entries.end() || it->second.until < now) return nullptr;
    return &it->second.answer;
}

void RecentAnswers::Remember(const std::string& sjis, const std::string& answer,
                             Clock::time_point now) {
    const std::size_t bytes = sjis.size() + answer.size();
    if (bytes > kBytes / 16) return;
    if (m_bytes + bytes > kBytes) {
        std::erase_if(m_entries, [&](const auto& entry) {
            if (entry.second.until >= now) return false;
            m_bytes -= entry.first.size() + entry.second.answer.size();
            return true;
        });
        // Entries are never older than kFor, so this happens only under a flood of them.
        if (m_bytes + bytes > kBytes) Clear();
    }
    auto [it, added] = m_entries.try_emplace(sjis);
    if (!added) m_bytes -= it->first.size() + it->second.answer.size();
    it->second = {answer, now + kFor};
    m_bytes += bytes;
}

void RecentAnswers::Clear() {
    m_entries.clear();
    m_bytes = 0;
}

}  // namespace server

// The live view: see live_view.h.
#include "live_view.h"

#include <algorithm>

#include "history.h"
#include "workbench_replies.h"

namespace server {
namespace {

using namespace replies;
using SteadyClock = std::chrono::steady_clock;

// Lines sent to a page that asks without `after`.
constexpr std::size_t kLiveDefault = 200;

// At most `limit` bytes of `text`, cut between two characters.
bool Cut(std::string& text, std::size_t limit) {
    if (text.size() <= limit) return false;
    std::size_t at = limit;
    while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    text.resize(at);
    return true;
}

}  // namespace

LiveView::LiveView(AnswerFeed& feed) {
    feed.Listen([this](const std::vector<AnsweredLine>& lines) noexcept {
        try {
            Take(lines);
        } catch (...) {
            // Out of memory: these lines are missing from the live view, nothing else.
        }
    });
    m_thread = std::thread([this] { Run(); });
}

LiveView::~LiveView() {
    Stop();
}

void LiveView::Stop() {
    std::vector<Waiter> waiters;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        waiters.swap(m_waiters);
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void LiveView::Take(const std::vector<AnsweredLine>& lines) {
    std::vector<Later> ready;
    {
        std::lock_guard lock(m_mutex);
        auto size = [](const Line& l) { return l.line.source.size() + l.line.translation.size(); };
        for (const AnsweredLine& l : lines) {
            auto& ring = m_lines[l.game];
            Line kept{++m_lastId, l};
            kept.cut = Cut(kept.line.source, kLineBytes) | Cut(kept.line.translation, kLineBytes);
            m_bytes += size(kept);
            ring.push_back(std::move(kept));
            if (ring.size() > kLinesPerGame) {
                m_bytes -= size(ring.front());
                ring.pop_front();
            }
            if (m_recentGames.empty() || m_recentGames.front() != l.game) {
                std::erase(m_recentGames, l.game);
                m_recentGames.insert(m_recentGames.begin(), l.game);
            }
        }
        // Over the bounds, the games translated least recently give up their lines first.
        while (m_recentGames.size() > kGames || (m_bytes > kBytes && m_recentGames.size() > 1)) {
            for (const Line& l : m_lines[m_recentGames.back()]) m_bytes -= size(l);
            m_lines.erase(m_recentGames.back());
            m_recentGames.pop_back();
        }
        for (auto& ring = m_lines[m_recentGames.front()]; m_bytes > kBytes && ring.size() > 1;) {
            m_bytes -= size(ring.front());
            ring.pop_front();
        }
        std::vector<std::pair<std::string, uint64_t>> answered;
        std::erase_if(m_waiters, [&](Waiter& w) {
            const auto it = m_lines.find(w.game);
            if (it == m_lines.end() || it->second.empty() || it->second.back().id <= w.after)
                return false;
            ready.push_back(std::move(w.later));
            answered.emplace_back(w.game, w.after);
            return true;
        });
        // Made under the lock: the lines are read from the rings.
        for (std::size_t i = 0; i < ready.size(); ++i) {
            Later done = std::move(ready[i]);
            WebAnswer a{200, "application/json; charset=utf-8",
                        Body(answered[i].first, answered[i].second, kLinesPerGame)};
            ready[i] = [done = std::move(done), a = std::move(a)](WebAnswer) mutable {
                done(std::move(a));
            };
        }
    }
    for (Later& l : ready) l({});
}

std::string LiveView::Body(const std::string& game, uint64_t after, std::size_t limit) const {
    Json lines = Json::array();
    const auto it = m_lines.find(game);
    if (it != m_lines.end()) {
        const auto& ring = it->second;
        auto first =
            std::find_if(ring.begin(), ring.end(), [&](const Line& l) { return l.id > after; });
        if (static_cast<std::size_t>(ring.end() - first) > limit) first = ring.end() - limit;
        for (auto l = first; l != ring.end(); ++l)
            lines.push_back({{"id", l->id},
                             {"time", IsoTime(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  l->line.time.time_since_epoch())
                                                  .count())},
                             {"game", l->line.game},
                             {"client", l->line.client},
                             {"source", l->line.source},
                             {"translation", l->line.translation},
                             {"outcome", OutcomeWord(l->line.outcome, l->line.corrected)},
                             {"cut", l->cut}});
    }
    return Dump({{"game", game}, {"games", m_recentGames}, {"last", m_lastId}, {"lines", lines}});
}

std::optional<WebAnswer> LiveView::Ask(std::string_view query, Later& later) {
    bool gameGiven = false, afterGiven = false;
    const std::string raw = Param(query, "game", &gameGiven);
    const std::string afterText = Param(query, "after", &afterGiven);
    std::string why;
    const std::optional<std::string> asked = GameOf(raw, &why);
    if (!asked) return Problem(400, why);
    uint64_t after = 0;
    if (afterGiven) {
        if (afterText.empty() || afterText.size() > 19 ||
            afterText.find_first_not_of("0123456789") != std::string::npos)
            return Problem(400, "after must be a line number");
        after = std::stoull(afterText);
    }
    std::lock_guard lock(m_mutex);
    // No game named: the one translated most recently.
    const std::string game = gameGiven || m_recentGames.empty() ? *asked : m_recentGames.front();
    const auto it = m_lines.find(game);
    const bool newer = it != m_lines.end() && !it->second.empty() && it->second.back().id > after;
    if (!afterGiven || newer || m_stopping)
        return WebAnswer{200, "application/json; charset=utf-8",
                         Body(game, after, afterGiven ? kLinesPerGame : kLiveDefault)};
    if (m_waiters.size() >= kWaiters) {
        const auto now = SteadyClock::now();
        const auto oldest = std::find_if(m_waiters.begin(), m_waiters.end(),
                                         [now](const Waiter& w) { return w.until > now; });
        if (oldest != m_waiters.end()) oldest->until = now;
    }
    m_waiters.push_back({game, after, SteadyClock::now() + kWait, std::move(later)});
    m_wake.notify_all();
    return std::nullopt;
}

void LiveView::Corrected(const std::string& game, const std::string& source,
                         const std::string& translation) {
    std::lock_guard lock(m_mutex);
    const auto it = m_lines.find(game);
    if (it != m_lines.end())
        for (Line& l : it->second)
            if (TrimEnd(l.line.source) == source) {
                m_bytes = m_bytes - l.line.translation.size() + translation.size();
                l.line.translation = translation;
                l.line.outcome = Outcome::kTranslated;
                l.line.corrected = true;
            }
}

// Answers the pages that have waited kWait for new lines.
void LiveView::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const auto now = SteadyClock::now();
        std::vector<Waiter> due;
        std::erase_if(m_waiters, [&](Waiter& w) {
            if (w.until > now) return false;
            due.push_back(std::move(w));
            return true;
        });
        if (!due.empty()) {
            std::vector<std::pair<Later, std::string>> answers;
            try {
                for (Waiter& w : due)
                    answers.emplace_back(std::move(w.later), Body(w.game, w.after, 0));
            } catch (...) {
                // Out of memory: the waiting pages left without an answer are closed, and ask
                // again.
            }
            lock.unlock();
            try {
                for (auto& [later, body] : answers)
                    later({200, "application/json; charset=utf-8", std::move(body)});
            } catch (...) {
            }
            due.clear();
            answers.clear();
            lock.lock();
            continue;
        }
        m_wake.wait_for(lock, std::chrono::milliseconds(500));
    }
}

}  // namespace server

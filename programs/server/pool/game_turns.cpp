#include "game_turns.h"

#include <algorithm>

namespace server {

GameTurns::GameTurns(std::vector<std::pair<std::string, Clock::time_point>> waiting,
                     Clock::time_point now)
    : m_waiting(std::move(waiting)), m_now(now) {
    std::sort(m_waiting.begin(), m_waiting.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
}

bool GameTurns::Moving(std::size_t seat) const {
    return std::any_of(m_moves.begin(), m_moves.end(),
                       [seat](const auto& m) { return m.first == seat; });
}

std::string_view GameTurns::GameOf(const std::vector<Seat>& seats, std::size_t seat) const {
    for (const auto& m : m_moves)
        if (m.first == seat) return m.second;
    return seats[seat].game;
}

bool GameTurns::Waits(std::string_view game) const {
    return std::any_of(m_waiting.begin(), m_waiting.end(),
                       [game](const auto& g) { return g.first == game; });
}

void GameTurns::TakeOverdue(const std::vector<Seat>& seats) {
    for (const auto& [game, since] : m_waiting) {
        if (m_now - since < kWaitLimit) continue;
        bool served = false;
        for (std::size_t i = 0; i < seats.size() && !served; ++i) served = GameOf(seats, i) == game;
        if (served) continue;
        for (std::size_t i = 0; i < seats.size(); ++i) {
            if (seats[i].state != Seat::State::kIdle || Moving(i) ||
                m_now - seats[i].readyAt < kTurn)
                continue;
            m_moves.emplace_back(i, game);
            break;
        }
    }
}

void GameTurns::TakeUnserved(const std::vector<Seat>& seats) {
    const auto free = [&](std::size_t i) {
        const Seat::State s = seats[i].state;
        return s == Seat::State::kIdle || s == Seat::State::kStarting || s == Seat::State::kDown ||
               Moving(i);
    };
    for (const auto& [game, since] : m_waiting) {
        bool served = false;
        for (std::size_t i = 0; i < seats.size() && !served; ++i)
            served = GameOf(seats, i) == game && free(i);
        if (served) continue;
        for (std::size_t i = 0; i < seats.size(); ++i) {
            if (seats[i].state != Seat::State::kIdle || Moving(i) || Waits(seats[i].game)) continue;
            m_moves.emplace_back(i, game);
            break;
        }
    }
}

}  // namespace server

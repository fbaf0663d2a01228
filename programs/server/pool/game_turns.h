// Which game each worker serves. A worker's plug-in applies one game's entries, so the lines of
// a game with no worker of its own wait until an idle worker is moved over to it (ended, and
// started again for that game). Decides only: the supervisor tells it what its workers are
// doing and makes the moves. Made by the Scheduler (Turns), under the pool's lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

// What the turns need to know of one worker.
struct Seat {
    enum class State { kIdle, kBusy, kStarting, kDown, kRetrying, kEnding };
    std::string_view game;  // folded; empty: the common entries alone
    State state = State::kDown;
    std::chrono::steady_clock::time_point readyAt;  // when its process became ready
};

class GameTurns {
  public:
    using Clock = std::chrono::steady_clock;
    // A game whose lines have waited this long with no worker of its own takes a worker from
    // another game even while that game has lines waiting, so that no game waits for another
    // to fall silent; but only a worker that has served its own game kTurn, or a start would
    // be all the workers ever did.
    static constexpr auto kWaitLimit = std::chrono::seconds(1);
    static constexpr auto kTurn = std::chrono::seconds(2);

    // `waiting`: games with lines waiting, each with when its longest-waiting request came.
    GameTurns(std::vector<std::pair<std::string, Clock::time_point>> waiting,
              Clock::time_point now);

    // Before lines are handed out: a game that has waited kWaitLimit with no worker at all takes
    // an idle worker that has had its turn.
    void TakeOverdue(const std::vector<Seat>& seats);
    // After: a game whose lines wait with no worker free or on its way takes an idle worker
    // whose own game has nothing waiting.
    void TakeUnserved(const std::vector<Seat>& seats);

    // The worker at `seat` is to be moved: it takes no line now.
    bool Moving(std::size_t seat) const;
    // Each worker to move, by seat, with its new game.
    std::vector<std::pair<std::size_t, std::string>> TakeMoves() { return std::move(m_moves); }

  private:
    // A worker's game once the moves decided so far are made.
    std::string_view GameOf(const std::vector<Seat>& seats, std::size_t seat) const;
    bool Waits(std::string_view game) const;

    std::vector<std::pair<std::string, Clock::time_point>> m_waiting;  // longest-waiting first
    const Clock::time_point m_now;
    std::vector<std::pair<std::size_t, std::string>> m_moves;
};

}  // namespace server

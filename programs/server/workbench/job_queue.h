// Work the I/O thread hands to a thread that owns it: a queue of bounded length and one
// thread that runs it in turn. Each job answers its own client (by posting back); the queue
// only runs it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace server {

class JobQueue {
  public:
    explicit JobQueue(std::size_t limit);
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    enum class Put { kQueued, kFull, kStopping };
    // Any thread. A job must not throw; what it throws anyway is dropped with it.
    Put Post(std::function<void()> job);
    // Drops the jobs not yet begun (on the calling thread) and waits for the one running.
    // Any thread but the queue's own.
    void Stop();

  private:
    void Run();

    const std::size_t m_limit;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace server

#include "job_queue.h"

namespace server {

JobQueue::JobQueue(std::size_t limit) : m_limit(limit), m_thread([this] { Run(); }) {}

JobQueue::~JobQueue() {
    Stop();
}

JobQueue::Put JobQueue::Post(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return Put::kStopping;
        if (m_jobs.size() >= m_limit) return Put::kFull;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return Put::kQueued;
}

void JobQueue::Stop() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_jobs);
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void JobQueue::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping) return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        try {
            job();
        } catch (...) {
            // The job's client is left without an answer: its connection closes with it.
        }
        job = nullptr;  // what it holds goes before the next one waits
        lock.lock();
    }
}

}  // namespace server

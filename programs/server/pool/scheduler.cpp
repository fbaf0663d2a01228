#include "scheduler.h"

#include <algorithm>

#include "line_answers.h"

namespace server {

Scheduler::Scheduler(std::size_t capacity, const LineAnswers* lines)
    : m_capacity(capacity), m_large(std::max<std::size_t>(1, capacity / 2)), m_lines(lines) {
    m_stats.capacity = capacity;
}

Translator::Admit Scheduler::Submit(std::shared_ptr<Batch> batch, Clock::time_point deadline,
                                    Translator::HandBack handBack) {
    const std::size_t pieces = batch->PieceCount();
    const bool screenLater = pieces > kScreenAtOnce;
    if (pieces == 0 || (!screenLater && AnswerAtOnce(*batch, Clock::now())))
        return Translator::Admit::kAnswered;
    const bool fits = Fits(pieces);
    if (!fits && !screenLater) {
        ++m_stats.rejectedBusy;
        return Translator::Admit::kFull;
    }
    auto job = std::make_shared<PoolJob>();
    job->batch = std::move(batch);
    job->deadline = deadline;
    job->handBack = std::move(handBack);
    job->since = Clock::now();
    job->open = pieces;
    if (screenLater) {
        job->screen.emplace();
        m_screening.push_back(job);
    }
    // No room: it may still be answered whole without a worker, and is refused only if not.
    if (fits) Queue(std::move(job));
    return Translator::Admit::kQueued;
}

bool Scheduler::Fits(std::size_t pieces) const {
    const std::shared_ptr<PoolJob> big = m_bigJob.lock();
    const std::size_t excess = big && big->open > m_large ? big->open - m_large : 0;
    return m_open == 0 || (m_open - excess + std::min(pieces, m_large) <= m_capacity &&
                           !(pieces > m_large && big));
}

void Scheduler::Queue(std::shared_ptr<PoolJob> job) {
    job->queued = true;
    m_open += job->open;
    m_unsent += job->Unsent();
    if (job->batch->PieceCount() > m_large) m_bigJob = job;
    m_jobs.push_back(std::move(job));
}

// Its screen found a piece that needs a worker.
void Scheduler::ScreenFailed(const std::shared_ptr<PoolJob>& job) {
    StopScreening(*job);
    if (job->queued) return;  // it goes the usual way, to the workers
    if (Fits(job->batch->PieceCount())) return Queue(job);
    ++m_stats.rejectedBusy;
    job->batch->Refuse();
    m_done.push_back(std::move(job->handBack));
}

// A correction is the player's own word: as in the plug-in, it goes before everything else.
bool Scheduler::Corrected(const std::string& game, const std::string& sjis, Batch::Piece& into) {
    if (!m_lines || !m_lines->Find(game, sjis, into.answer)) return false;
    into.outcome = Outcome::kTranslated;
    into.corrected = true;
    return true;
}

bool Scheduler::AnswerOf(const std::string& game, const std::string& sjis, Clock::time_point now,
                         Batch::Piece& into, bool correctionsOnly) {
    if (Corrected(game, sjis, into)) return true;
    if (correctionsOnly) return false;
    const std::string key = LineKey(game, sjis);
    if (const std::string* answer = m_recent.Find(key, now)) {
        into.outcome = Outcome::kTranslated;
        into.answer = *answer;
        return true;
    }
    switch (m_record.Find(key, now)) {
        case LineRecord::Verdict::kHung:
            into.outcome = Outcome::kHung;
            return true;
        case LineRecord::Verdict::kQuarantined:
            into.outcome = Outcome::kQuarantined;
            return true;
        default:
            return false;
    }
}

// Every piece of the batch answered a moment ago or known to fail, or none of it: a one-line
// request asked again, or a whole batch repeated, never waits behind a worker.
bool Scheduler::AnswerAtOnce(Batch& batch, Clock::time_point now, bool correctionsOnly) {
    std::vector<Batch::Piece> answers(batch.m_pieces.size());
    for (std::size_t i = 0; i < answers.size(); ++i)
        if (!AnswerOf(batch.Game(), batch.m_pieces[i].sjis, now, answers[i], correctionsOnly))
            return false;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        Batch::Piece& piece = batch.m_pieces[i];
        piece.outcome = answers[i].outcome;
        piece.answer = std::move(answers[i].answer);
        piece.corrected = answers[i].corrected;
        ++(piece.corrected                          ? m_stats.lineAnswers
           : piece.outcome == Outcome::kTranslated  ? m_stats.recentHits
           : piece.outcome == Outcome::kQuarantined ? m_stats.quarantined
                                                    : m_stats.hungAnswers);
    }
    return true;
}

bool Scheduler::AnswerCorrected(Batch& batch) {
    const std::size_t pieces = batch.PieceCount();
    return pieces > 0 && pieces <= kScreenAtOnce && AnswerAtOnce(batch, Clock::now(), true);
}

bool Scheduler::Screen(Clock::time_point now) {
    for (std::size_t budget = kScreenStep; budget > 0 && !m_screening.empty();) {
        const std::shared_ptr<PoolJob> job = m_screening.front();
        if (!job->screen) {
            m_screening.pop_front();
            continue;
        }
        PoolJob::Screen& s = *job->screen;
        std::vector<Batch::Piece>& pieces = job->batch->m_pieces;
        for (; budget > 0 && s.next < pieces.size(); --budget, ++s.next) {
            Batch::Piece& piece = pieces[s.next];
            if (!AnswerOf(job->batch->Game(), piece.sjis, now, piece, false)) {
                ScreenFailed(job);
                break;
            }
            ++(piece.corrected                          ? s.corrected
               : piece.outcome == Outcome::kTranslated  ? s.recent
               : piece.outcome == Outcome::kQuarantined ? s.quarantined
                                                        : s.hung);
        }
        if (!job->screen || s.next < pieces.size()) continue;
        m_stats.lineAnswers += s.corrected;
        m_stats.recentHits += s.recent;
        m_stats.quarantined += s.quarantined;
        m_stats.hungAnswers += s.hung;
        job->screen.reset();
        if (job->queued) {
            m_unsent -= job->Unsent();
            m_open -= job->open;
        }
        job->next = pieces.size();
        job->open = 0;
        if (job->queued)
            FinishIfDone(job);
        else
            m_done.push_back(std::move(job->handBack));
    }
    return !m_screening.empty();
}

// Answers found for some pieces are not kept: the others send the batch to the workers, or
// it ends unsent, and none may pass as translated before a worker has answered it.
void Scheduler::StopScreening(PoolJob& job) {
    if (!job.screen) return;
    for (std::size_t i = 0; i < job.screen->next; ++i) {
        job.batch->m_pieces[i].outcome = Outcome::kTimedOut;
        job.batch->m_pieces[i].answer.clear();
        job.batch->m_pieces[i].corrected = false;
    }
    job.screen.reset();
}

std::vector<std::pair<std::string, Scheduler::Clock::time_point>> Scheduler::Waiting() const {
    std::vector<std::pair<std::string, Clock::time_point>> out;
    auto note = [&out](const std::string& game, Clock::time_point since) {
        for (auto& [g, s] : out)
            if (g == game) return void(s = std::min(s, since));
        out.emplace_back(game, since);
    };
    for (const auto& task : m_retry)
        if (!task->waiters.empty()) note(task->game, task->waiters.front().first->since);
    for (const auto& job : m_jobs)
        if (job->Unsent() > 0) note(job->batch->Game(), job->since);
    return out;
}

std::shared_ptr<Task> Scheduler::Next(bool fresh, bool preferKnown, bool allowUnknown,
                                      Clock::time_point now, const std::string& game) {
    // A line whose worker ended goes before any other, a suspect one only to a fresh worker.
    for (auto it = m_retry.begin(); it != m_retry.end(); ++it) {
        if ((*it)->game != game || ((*it)->suspect && !fresh)) continue;
        std::shared_ptr<Task> task = std::move(*it);
        m_retry.erase(it);
        return task;
    }
    // Taken in turn; while another worker is on a line that may hang, a line known to be
    // answered goes before the unknown ones, so that hanging lines cannot hold every worker.
    std::shared_ptr<PoolJob> fallback;
    // Once round the queue; a request finished on the way leaves its place to the next.
    for (std::size_t visits = m_jobs.size(); visits > 0 && !m_jobs.empty();) {
        if (m_turn >= m_jobs.size()) m_turn = 0;
        const std::shared_ptr<PoolJob> job = m_jobs[m_turn];
        if (job->batch->Game() != game) {
            ++m_turn;
            --visits;
            continue;
        }
        const bool ready = Ready(job, now);
        if (m_turn < m_jobs.size() && m_jobs[m_turn] == job) {
            ++m_turn;
            --visits;
        }
        if (!ready) continue;
        const bool known = m_record.Find(KeyOf(*job, job->next), now) == LineRecord::Verdict::kGood;
        if (known || (!preferKnown && allowUnknown)) return Take(job, known);
        if (!fallback) fallback = job;
    }
    if (!fallback || !allowUnknown || fallback->Unsent() == 0) return nullptr;
    const auto at = std::find(m_jobs.begin(), m_jobs.end(), fallback);
    if (at == m_jobs.end()) return nullptr;
    m_turn = static_cast<std::size_t>(at - m_jobs.begin()) + 1;
    return Take(fallback, false);
}

bool Scheduler::Ready(const std::shared_ptr<PoolJob>& job, Clock::time_point now) {
    if (job->screen) return false;
    while (job->Unsent() > 0) {
        if (job->batch->Cancelled() || now > job->deadline) {
            Expire(job);
            return false;
        }
        Batch::Piece& piece = job->batch->m_pieces[job->next];
        // Saved since the batch came in, or one line of a batch that others sent to workers.
        if (Corrected(job->batch->Game(), piece.sjis, piece)) {
            ++job->next;
            --m_unsent;
            --job->open;
            --m_open;
            ++m_stats.lineAnswers;
            continue;
        }
        const std::string key = KeyOf(*job, job->next);
        const LineRecord::Verdict verdict = m_record.Find(key, now);
        const auto flying = m_inFlight.find(key);
        if (verdict != LineRecord::Verdict::kQuarantined && verdict != LineRecord::Verdict::kHung &&
            flying == m_inFlight.end())
            return true;
        const std::size_t index = job->next++;
        --m_unsent;
        if (flying != m_inFlight.end()) {
            flying->second->waiters.emplace_back(job, index);
        } else if (verdict == LineRecord::Verdict::kHung) {
            ++m_stats.hungAnswers;
            Settle(*job, index, Outcome::kHung, {});
        } else {
            ++m_stats.quarantined;
            Settle(*job, index, Outcome::kQuarantined, {});
        }
    }
    FinishIfDone(job);
    return false;
}

std::shared_ptr<Task> Scheduler::Take(const std::shared_ptr<PoolJob>& job, bool known) {
    const std::size_t index = job->next++;
    --m_unsent;
    auto task = std::make_shared<Task>();
    task->sjis = job->batch->m_pieces[index].sjis;
    task->game = job->batch->Game();
    task->key = LineKey(task->game, task->sjis);
    task->waiters.emplace_back(job, index);
    task->knownGood = known;
    m_inFlight[task->key] = task;
    return task;
}

void Scheduler::Done(Task& task) {
    const auto it = m_inFlight.find(task.key);
    if (it != m_inFlight.end() && it->second.get() == &task) m_inFlight.erase(it);
}

void Scheduler::Answered(Task& task, const LineReply& reply, bool hung, Clock::time_point now) {
    Done(task);
    Outcome outcome = Outcome::kTimedOut;
    if (reply.reply == Reply::kGaveUp) {
        if (hung) {
            outcome = Outcome::kHung;
            m_record.Hung(task.key, now);
        }
        m_stats.timedOut += task.waiters.size();
    } else {
        outcome = reply.reply == Reply::kTranslated ? Outcome::kTranslated : Outcome::kUntranslated;
        m_record.Good(task.key);
        if (outcome == Outcome::kTranslated) m_recent.Remember(task.key, reply.text, now);
        ++m_stats.pluginCalls;
        if (reply.cacheHit) {
            ++m_stats.cacheHits;
        } else {
            ++m_stats.engineLines;
            m_stats.engineMillis += reply.micros / 1000.0;
            if (reply.reply == Reply::kUntranslated) ++m_stats.untranslated;
        }
    }
    for (auto& [job, piece] : task.waiters) Settle(*job, piece, outcome, reply.text);
    for (auto& [job, piece] : task.waiters) FinishIfDone(job);
    task.waiters.clear();
}

bool Scheduler::Ended(std::shared_ptr<Task> task, Clock::time_point now) {
    if (!task->suspect) {
        task->suspect = true;
        m_retry.push_front(std::move(task));
        return false;
    }
    Done(*task);
    m_record.Quarantine(task->key, now);
    m_stats.quarantined += task->waiters.size();
    for (auto& [job, piece] : task->waiters) Settle(*job, piece, Outcome::kQuarantined, {});
    for (auto& [job, piece] : task->waiters) FinishIfDone(job);
    return true;
}

void Scheduler::Retry(std::shared_ptr<Task> task) {
    m_retry.push_front(std::move(task));
}

void Scheduler::TimedOut(Task& task) {
    Done(task);
    m_stats.timedOut += task.waiters.size();
    for (auto& [job, piece] : task.waiters) Settle(*job, piece, Outcome::kTimedOut, {});
    for (auto& [job, piece] : task.waiters) FinishIfDone(job);
    task.waiters.clear();
}

void Scheduler::Settle(PoolJob& job, std::size_t piece, Outcome outcome,
                       const std::string& answer) {
    Batch::Piece& p = job.batch->m_pieces[piece];
    p.outcome = outcome;
    if (outcome == Outcome::kTranslated || outcome == Outcome::kUntranslated) p.answer = answer;
    --job.open;
    --m_open;
}

// Lines not sent by the deadline are not answered in time; those of a client that has gone
// are not sent at all.
void Scheduler::Expire(const std::shared_ptr<PoolJob>& job) {
    StopScreening(*job);
    const std::size_t unsent = job->Unsent();
    job->next = job->batch->PieceCount();
    job->open -= unsent;
    m_open -= unsent;
    m_unsent -= unsent;
    (job->batch->Cancelled() ? m_stats.cancelled : m_stats.timedOut) += unsent;
    FinishIfDone(job);
}

void Scheduler::Sweep(Clock::time_point now) {
    const std::vector<std::shared_ptr<PoolJob>> jobs(m_jobs.begin(), m_jobs.end());
    for (const auto& job : jobs)
        if ((job->batch->Cancelled() || now > job->deadline) && job->Unsent() > 0) Expire(job);
    // A line waiting to be tried again answers no one whose time is up.
    for (auto it = m_retry.begin(); it != m_retry.end();) {
        Task& task = **it;
        std::vector<std::shared_ptr<PoolJob>> gone;
        std::erase_if(task.waiters, [&](const auto& waiter) {
            PoolJob& job = *waiter.first;
            if (!job.batch->Cancelled() && now <= job.deadline) return false;
            (job.batch->Cancelled() ? m_stats.cancelled : m_stats.timedOut) += 1;
            Settle(job, waiter.second, Outcome::kTimedOut, {});
            gone.push_back(waiter.first);
            return true;
        });
        for (const auto& job : gone) FinishIfDone(job);
        if (task.waiters.empty()) {
            Done(task);
            it = m_retry.erase(it);
        } else {
            ++it;
        }
    }
}

void Scheduler::FinishIfDone(const std::shared_ptr<PoolJob>& job) {
    if (job->open != 0 || job->Unsent() != 0) return;
    const auto at = std::find(m_jobs.begin(), m_jobs.end(), job);
    if (at == m_jobs.end()) return;
    const auto index = static_cast<std::size_t>(at - m_jobs.begin());
    m_jobs.erase(at);
    if (index < m_turn) --m_turn;
    m_done.push_back(std::move(job->handBack));
}

void Scheduler::Forget() {
    m_record.Forget();
    m_recent.Clear();
    // Answers found before the change may be stale: the check starts over.
    for (const auto& job : m_screening)
        if (job->screen) {
            StopScreening(*job);
            job->screen.emplace();
        }
}

void Scheduler::Clear() {
    m_jobs.clear();
    m_screening.clear();
    m_retry.clear();
    m_inFlight.clear();
    m_open = m_unsent = 0;
}

TranslatorStats Scheduler::Stats() const {
    TranslatorStats s = m_stats;
    s.queued = m_unsent;
    return s;
}

}  // namespace server

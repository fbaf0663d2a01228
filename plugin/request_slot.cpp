#include "request_slot.h"

#include <cstring>
#include <utility>

namespace mirelo {
namespace {

// Cut by bytes to the buffer's size; a size below 1 gets nothing.
void CopyToDestination(char* dest, int32_t destSize, std::string_view text) {
    if (dest == nullptr || destSize < 1) return;
    const size_t room = static_cast<size_t>(destSize) - 1;
    const size_t count = text.size() > room ? room : text.size();
    std::memcpy(dest, text.data(), count);
    dest[count] = '\0';
}

}  // namespace

int RequestSlot::Call(const DeadlineLock::Guard&, const TranslationRequest& request,
                      HANDLE requestEvent, HANDLE doneEvent, ULONGLONG deadline) {
    bool stale;
    {
        auto guard = m_lock.Lock();
        if (m_refusing.load(std::memory_order_relaxed)) return 0;
        m_request = request;
        if (++m_seq == 0) ++m_seq;  // 0 names no request
        m_state = State::Pending;
        stale = std::exchange(m_doneMayBeStale, false);
    }
    if (stale) ::ResetEvent(doneEvent);
    ::SetEvent(requestEvent);

    // The signal of a request given up earlier may still come during this wait; only the
    // slot's state tells whether this caller's request was answered.
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD remaining = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const DWORD wait = ::WaitForSingleObject(doneEvent, remaining);
        auto guard = m_lock.Lock();
        if (m_state == State::Done) {
            m_state = State::Empty;
            return 1;
        }
        if (wait != WAIT_OBJECT_0) {
            GiveUp();
            return 0;
        }
    }
}

// Under m_lock. The caller that gave up first may have met an engine that is only slow, so
// the caller after it still waits its full time; once that one has waited in vain behind
// the same given-up request, the engine counts as stuck until the worker comes back.
void RequestSlot::GiveUp() {
    m_state = State::Abandoned;
    m_doneMayBeStale = true;
    if (m_workerSeq == 0) return;
    if (m_workerSeq == m_seq) {
        m_workerOnGivenUp = true;
    } else if (m_workerOnGivenUp) {
        m_refusing.store(true, std::memory_order_release);
    }
}

void RequestSlot::Reset() {
    auto guard = m_lock.Lock();
    m_request = {};
    m_state = State::Empty;
    m_doneMayBeStale = false;
    m_workerSeq = 0;
    m_workerOnGivenUp = false;
    m_refusing.store(false, std::memory_order_release);
}

bool RequestSlot::Take(Ticket& ticket, char* copy, size_t cap) {
    auto guard = m_lock.Lock();
    // A caller that gave up before the worker woke wants nothing any more.
    if (m_state != State::Pending) return false;
    m_state = State::InProgress;
    m_workerSeq = m_seq;
    m_workerOnGivenUp = false;
    const char* source = m_request.pszSource;
    const size_t length = source ? ::strnlen(source, cap) : 0;
    if (length < cap) {
        if (length > 0) std::memcpy(copy, source, length);
        copy[length] = '\0';
    }
    ticket = {m_seq, m_request.pszDest, m_request.nDestSize, length};
    return true;
}

void RequestSlot::Finish(const Ticket& ticket, const std::string_view* answer) {
    auto guard = m_lock.Lock();
    m_workerSeq = 0;
    m_workerOnGivenUp = false;
    m_refusing.store(false, std::memory_order_release);
    if (m_seq != ticket.seq || m_state != State::InProgress) return;
    if (answer != nullptr) CopyToDestination(ticket.dest, ticket.destSize, *answer);
    m_state = State::Done;
}

}  // namespace mirelo

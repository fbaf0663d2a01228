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
        auto guard = lock_.Lock();
        if (refusing_.load(std::memory_order_relaxed)) return 0;
        request_ = request;
        if (++seq_ == 0) ++seq_;  // 0 names no request
        state_ = State::Pending;
        stale = std::exchange(doneMayBeStale_, false);
    }
    if (stale) ::ResetEvent(doneEvent);
    ::SetEvent(requestEvent);

    // The signal of a request given up earlier may still come during this wait; only the
    // slot's state tells whether this caller's request was answered.
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        const DWORD remaining = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const DWORD wait = ::WaitForSingleObject(doneEvent, remaining);
        auto guard = lock_.Lock();
        if (state_ == State::Done) {
            state_ = State::Empty;
            return 1;
        }
        if (wait != WAIT_OBJECT_0) {
            GiveUp();
            return 0;
        }
    }
}

// Under lock_. The caller that gave up first may have met an engine that is only slow, so
// the caller after it still waits its full time; once that one has waited in vain behind
// the same given-up request, the engine counts as stuck until the worker comes back.
void RequestSlot::GiveUp() {
    state_ = State::Abandoned;
    doneMayBeStale_ = true;
    if (workerSeq_ == 0) return;
    if (workerSeq_ == seq_) {
        workerOnGivenUp_ = true;
    } else if (workerOnGivenUp_) {
        refusing_.store(true, std::memory_order_release);
    }
}

void RequestSlot::Reset() {
    auto guard = lock_.Lock();
    request_ = {};
    state_ = State::Empty;
    doneMayBeStale_ = false;
    workerSeq_ = 0;
    workerOnGivenUp_ = false;
    refusing_.store(false, std::memory_order_release);
}

bool RequestSlot::Take(Ticket& ticket, char* copy, size_t cap) {
    auto guard = lock_.Lock();
    // A caller that gave up before the worker woke wants nothing any more.
    if (state_ != State::Pending) return false;
    state_ = State::InProgress;
    workerSeq_ = seq_;
    workerOnGivenUp_ = false;
    const char* source = request_.pszSource;
    const size_t length = source ? ::strnlen(source, cap) : 0;
    if (length < cap) {
        if (length > 0) std::memcpy(copy, source, length);
        copy[length] = '\0';
    }
    ticket = {seq_, request_.pszDest, request_.nDestSize, length};
    return true;
}

void RequestSlot::Finish(const Ticket& ticket, const std::string_view* answer) {
    auto guard = lock_.Lock();
    workerSeq_ = 0;
    workerOnGivenUp_ = false;
    refusing_.store(false, std::memory_order_release);
    if (seq_ != ticket.seq || state_ != State::InProgress) return;
    if (answer != nullptr) CopyToDestination(ticket.dest, ticket.destSize, *answer);
    state_ = State::Done;
}

}  // namespace mirelo

#pragma once
// The one request in flight between a Translate caller and the worker, and the rules of
// handing it over. The caller's side (Call) runs on the host's threads, one caller at a
// time; the worker's side (Take, Finish) on the worker thread only. The two events belong
// to the application; the slot tells the meaning of their signals.
//
// Its rules:
// - A late done signal never lands: the done event only wakes the caller; whether its
//   request was answered is read from the slot, so the signal a worker gives for a request
//   given up earlier cannot end the wait of the caller after it.
// - A given-up request is never written: the answer goes into the caller's buffer under
//   the slot's lock, and only while that very request is still wanted.
// - A stuck engine stalls the host once: when the worker is still on a given-up request
//   and the request after it was given up too, every call is refused at once until the
//   worker comes back.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "locks.h"

namespace mirelo {

// Borrowed from one Translate call.
struct TranslationRequest {
    const char* pszSource;
    char* pszDest;
    int32_t nDestSize;
};

class RequestSlot {
  public:
    // What the worker learns of a request it took: where the answer goes.
    struct Ticket {
        uint32_t seq = 0;
        char* dest = nullptr;
        int32_t destSize = 0;
        size_t sourceLength = 0;  // the copy's length; the copy's size when it did not fit
    };

    RequestSlot() = default;
    RequestSlot(const RequestSlot&) = delete;
    RequestSlot& operator=(const RequestSlot&) = delete;

    // --- The caller's side ---

    // True while calls are refused at once: cheap enough to ask before taking any lock.
    bool Refusing() const { return m_refusing.load(std::memory_order_acquire); }

    // Hands `request` to the worker (sets `requestEvent`) and waits on `doneEvent` until
    // `deadline` (a GetTickCount64 value) for its answer. 1 when it was answered, 0 when it
    // was given up or refused. `callers` proves that this caller is the only one.
    int Call(const DeadlineLock::Guard& callers, const TranslationRequest& request,
             HANDLE requestEvent, HANDLE doneEvent, ULONGLONG deadline);

    // Forgets everything but the sequence; for a new session, once no worker is left.
    void Reset();

    // --- The worker's side ---

    // Takes the request in the slot, if its caller still waits for it, and copies its
    // source into `copy` (`cap` bytes): a caller that gives up may free the source as soon
    // as it has returned. A source of `cap` bytes or more is not copied (sourceLength is
    // then `cap`); a null source counts as empty. False when there is nothing to take.
    bool Take(Ticket& ticket, char* copy, size_t cap);

    // Ends the request `ticket` names: the answer (null: leave the buffer alone) is cut by
    // bytes to the caller's buffer and written only if that caller still waits. The caller
    // is told through the slot; signalling the done event stays the worker's.
    void Finish(const Ticket& ticket, const std::string_view* answer);

  private:
    enum class State : uint32_t { Empty, Pending, InProgress, Done, Abandoned };

    void GiveUp();

    ExclusiveLock m_lock;
    // All below under m_lock.
    TranslationRequest m_request{};
    uint32_t m_seq = 0;  // of the request in the slot
    State m_state = State::Empty;
    // Only a request given up on can leave a done signal behind for the next caller.
    bool m_doneMayBeStale = false;
    // The request the worker is on (0: none) and whether its caller gave up on it.
    uint32_t m_workerSeq = 0;
    bool m_workerOnGivenUp = false;
    // Written under m_lock only; Refusing() reads it without.
    std::atomic<bool> m_refusing{false};
};

}  // namespace mirelo

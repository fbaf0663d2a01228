// The request slot's rules on their own, between test callers and a worker the test holds
// and releases: a late done signal never ends another caller's wait, a given-up request is
// never written, and a stuck worker costs the host one more full wait, then nothing.

#include "request_slot.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace mirelo {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A worker that answers each source in upper case; while `hold` is on, it keeps each request
// it took until the test releases it, as an engine call that takes long.
class Harness {
  public:
    Harness() {
        worker_ = std::thread([this] { Run(); });
    }
    ~Harness() {
        stop_ = true;
        hold = false;
        ::SetEvent(release_);
        ::SetEvent(request_);
        worker_.join();
        for (HANDLE h : {request_, done_, release_}) ::CloseHandle(h);
    }

    int Call(const char* source, char* dest, int32_t size, DWORD ms) {
        const ULONGLONG deadline = ::GetTickCount64() + ms;
        auto callers = callers_.LockUntil(deadline);
        if (!callers) return 0;
        return slot.Call(callers, {source, dest, size}, request_, done_, deadline);
    }
    void Release() { ::SetEvent(release_); }
    // Sources the worker took, in order.
    std::vector<std::string> Taken() {
        auto guard = takenLock_.Lock();
        return taken_;
    }
    // Waits until the worker has taken `count` requests.
    bool AwaitTaken(size_t count) {
        for (int i = 0; i < 400; ++i) {
            if (Taken().size() >= count) return true;
            ::Sleep(5);
        }
        return false;
    }

    RequestSlot slot;
    std::atomic<bool> hold{false};
    std::atomic<int> finished{0};

  private:
    void Run() {
        char copy[64];
        for (;;) {
            ::WaitForSingleObject(request_, INFINITE);
            if (stop_) return;
            RequestSlot::Ticket ticket;
            if (slot.Take(ticket, copy, sizeof copy)) {
                {
                    auto guard = takenLock_.Lock();
                    taken_.emplace_back(copy);
                }
                if (hold) ::WaitForSingleObject(release_, INFINITE);
                std::string answer(copy);
                for (char& c : answer) c = static_cast<char>(::toupper(c));
                const std::string_view text(answer);
                slot.Finish(ticket, &text);
                ++finished;
            }
            ::SetEvent(done_);
        }
    }

    HANDLE request_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE release_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DeadlineLock callers_;
    ExclusiveLock takenLock_;
    std::vector<std::string> taken_;
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

// The caller has returned, nobody has called since: the answer that comes now has nowhere
// to go, whatever the slot still holds of that request.
TEST(RequestSlot, AnswerToAGivenUpRequestIsNeverWritten) {
    Harness h;
    h.hold = true;
    char dest[16] = "keep";
    EXPECT_EQ(0, h.Call("late", dest, sizeof dest, 100));
    ASSERT_TRUE(h.AwaitTaken(1));
    h.Release();
    for (int i = 0; i < 400 && h.finished == 0; ++i) ::Sleep(5);
    ASSERT_EQ(1, h.finished.load());
    EXPECT_STREQ("keep", dest);
}

// The worker's done signal for the request given up comes while the next caller waits; it
// must neither end that wait nor land in either buffer.
TEST(RequestSlot, LateDoneSignalNeverEndsTheNextCallersWait) {
    Harness h;
    h.hold = true;
    char first[16] = "first?";
    EXPECT_EQ(0, h.Call("first", first, sizeof first, 150));
    ASSERT_TRUE(h.AwaitTaken(1));

    char second[16] = "second?";
    std::atomic<int> answered{-1};
    std::thread caller([&] { answered = h.Call("second", second, sizeof second, 3000); });
    ::Sleep(100);
    h.Release();  // the first request ends now: its late signal
    ASSERT_TRUE(h.AwaitTaken(2));
    ::Sleep(150);
    EXPECT_EQ(-1, answered.load()) << "woken by the signal of a request given up";
    h.Release();
    caller.join();
    EXPECT_EQ(1, answered.load());
    EXPECT_STREQ("SECOND", second);
    EXPECT_STREQ("first?", first);
}

// The first caller may have met a merely slow engine; the one after it waits its full time;
// from then on, while the worker is still on the given-up request, calls are refused at once.
// The request that waited in vain is never handed over, and service comes back by itself.
TEST(RequestSlot, StuckWorkerCostsOneMoreFullWaitThenCallsAreRefusedUntilItReturns) {
    Harness h;
    h.hold = true;
    char dest[16] = "keep";
    EXPECT_EQ(0, h.Call("stuck", dest, sizeof dest, 150));
    ASSERT_TRUE(h.AwaitTaken(1));
    EXPECT_FALSE(h.slot.Refusing());

    auto start = Clock::now();
    EXPECT_EQ(0, h.Call("queued", dest, sizeof dest, 150));
    EXPECT_GE(MsSince(start), 140.0);  // waited its full time
    EXPECT_TRUE(h.slot.Refusing());

    std::vector<double> took;
    for (int i = 0; i < 10; ++i) {
        start = Clock::now();
        EXPECT_EQ(0, h.Call("refused", dest, sizeof dest, 150));
        took.push_back(MsSince(start));
    }
    for (double ms : took) EXPECT_LT(ms, 10.0);

    h.hold = false;
    h.Release();
    for (int i = 0; i < 200 && h.slot.Refusing(); ++i) ::Sleep(5);
    EXPECT_FALSE(h.slot.Refusing());
    EXPECT_EQ(1, h.Call("after", dest, sizeof dest, 2000));
    EXPECT_STREQ("AFTER", dest);
    const std::vector<std::string> taken = {"stuck", "after"};
    EXPECT_EQ(taken, h.Taken());
}

// A new session starts with nothing refused, even while the old worker is still away.
TEST(RequestSlot, ResetEndsTheRefusal) {
    Harness h;
    h.hold = true;
    char old[16] = "old?";
    EXPECT_EQ(0, h.Call("stuck", old, sizeof old, 100));
    ASSERT_TRUE(h.AwaitTaken(1));
    char dest[16] = "keep";
    EXPECT_EQ(0, h.Call("queued", dest, sizeof dest, 100));
    ASSERT_TRUE(h.slot.Refusing());
    h.slot.Reset();
    EXPECT_FALSE(h.slot.Refusing());
    std::thread releaser([&] {
        ::Sleep(100);
        h.hold = false;
        h.Release();
    });
    EXPECT_EQ(1, h.Call("new", dest, sizeof dest, 2000));
    releaser.join();
    EXPECT_STREQ("NEW", dest);
    EXPECT_STREQ("old?", old);
}

TEST(RequestSlot, SourceTooLongForTheCopyIsReportedNotCopied) {
    RequestSlot slot;
    DeadlineLock callers;
    HANDLE request = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    struct {
        const char* source;
        size_t length;
        const char* copied;
    } cases[] = {{"abc", 3, "abc"}, {"abcd", 4, nullptr}, {"abcde", 4, nullptr}, {nullptr, 0, ""}};
    for (const auto& c : cases) {
        std::thread worker([&] {
            ::WaitForSingleObject(request, INFINITE);
            char copy[4] = {'x', 'x', 'x', 'x'};
            RequestSlot::Ticket ticket;
            ASSERT_TRUE(slot.Take(ticket, copy, sizeof copy));
            EXPECT_EQ(c.length, ticket.sourceLength);
            if (c.copied) {
                EXPECT_STREQ(c.copied, copy);
            } else {
                EXPECT_EQ('x', copy[3]);
            }
            slot.Finish(ticket, nullptr);
            ::SetEvent(done);
        });
        auto guard = callers.LockUntil(::GetTickCount64() + 2000);
        char dest[8] = "keep";
        EXPECT_EQ(1, slot.Call(guard, {c.source, dest, sizeof dest}, request, done,
                               ::GetTickCount64() + 2000));
        EXPECT_STREQ("keep", dest);  // a null answer leaves the buffer alone
        worker.join();
    }
    ::CloseHandle(request);
    ::CloseHandle(done);
}

}  // namespace
}  // namespace mirelo

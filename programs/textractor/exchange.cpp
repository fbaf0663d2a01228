#include "exchange.h"

#include <new>

namespace textractor {
namespace {

constexpr size_t kMaxBody = 8u << 20;
constexpr DWORD kChunk = 16384;
// A finished request is let go at once (under Wine, inside the close); this covers a system
// that does it on another thread.
constexpr DWORD kLetGoMs = 250;

// Shared by the caller and WinHTTP's callbacks; freed by whichever lets go of it last.
struct Pending {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    LONG refs = 2;       // the caller's and the request handle's
    unsigned steps = 0;  // completions seen so far
    DWORD error = 0;
    DWORD read = 0;
    bool closed = false;
    HMODULE module = nullptr;  // held while WinHTTP still works on a request the caller left
    char buffer[kChunk];
};

// Requests whose state lives, and callbacks running: the unload waits for both to be none.
volatile LONG g_pending = 0;
volatile LONG g_calls = 0;
// What is left of a callback once it has counted itself out is its return: this covers it.
constexpr DWORD kSettleMs = 50;
constexpr ULONGLONG kUnloadWaitMs = 2000;

void Release(Pending* p) {
    if (::InterlockedDecrement(&p->refs) != 0) return;
    HMODULE module = p->module;
    delete p;
    ::InterlockedDecrement(&g_pending);
    // This callback runs in the extension's code: the reference it held is given back from a
    // thread that runs only kernel32's. If no thread can be made the extension stays loaded.
    if (module) {
        HANDLE t = ::CreateThread(
            nullptr, 0,
            reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(&::FreeLibrary)),
            module, 0, nullptr);
        if (t) ::CloseHandle(t);
    }
}

void Notice(DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    auto* p = reinterpret_cast<Pending*>(context);
    if (!p) return;
    ::AcquireSRWLockExclusive(&p->lock);
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            p->closed = true;
            ::WakeAllConditionVariable(&p->changed);
            ::ReleaseSRWLockExclusive(&p->lock);
            Release(p);
            return;
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            p->read = length;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            p->error = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
            if (p->error == 0) p->error = ERROR_WINHTTP_INTERNAL_ERROR;
            break;
        default:
            ::ReleaseSRWLockExclusive(&p->lock);
            return;
    }
    ++p->steps;
    ::WakeAllConditionVariable(&p->changed);
    ::ReleaseSRWLockExclusive(&p->lock);
}

// WinHTTP may call on a thread of its own after the caller has gone, the last time as it lets
// go of a closed request: the unload waits until no call is under way.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
    ::InterlockedIncrement(&g_calls);
    Notice(context, status, info, length);
    ::InterlockedDecrement(&g_calls);
}

unsigned Steps(Pending* p) {
    ::AcquireSRWLockExclusive(&p->lock);
    const unsigned n = p->steps;
    ::ReleaseSRWLockExclusive(&p->lock);
    return n;
}

// Waits for the completion of the step begun when `before` steps had been seen.
bool Await(Pending* p, unsigned before, ULONGLONG deadline, DWORD& error) {
    ::AcquireSRWLockExclusive(&p->lock);
    while (p->steps == before && p->error == 0) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) {
            error = ERROR_WINHTTP_TIMEOUT;
            break;
        }
        ::SleepConditionVariableSRW(&p->changed, &p->lock, static_cast<DWORD>(deadline - now), 0);
    }
    if (p->error) error = p->error;
    const bool done = p->steps != before && p->error == 0;
    ::ReleaseSRWLockExclusive(&p->lock);
    return done;
}

// `busy`: a step is still running (time ran out), so WinHTTP will call back after this returns.
void LetGo(Pending* p, HINTERNET request, bool busy) {
    ::WinHttpCloseHandle(request);
    ::AcquireSRWLockExclusive(&p->lock);
    const ULONGLONG end = ::GetTickCount64() + (busy ? 0 : kLetGoMs);
    for (ULONGLONG now = ::GetTickCount64(); !p->closed && now < end; now = ::GetTickCount64())
        ::SleepConditionVariableSRW(&p->changed, &p->lock, static_cast<DWORD>(end - now), 0);
    if (!p->closed) {
        // The callbacks still to come need this code loaded, even if Textractor unloads it.
        HMODULE self = nullptr;
        if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                 reinterpret_cast<LPCWSTR>(&OnStatus), &self))
            p->module = self;
    }
    ::ReleaseSRWLockExclusive(&p->lock);
    Release(p);
}

bool Run(Pending* p, HINTERNET request, ULONGLONG deadline, Answer& out) {
    auto failed = [&] {
        out.error = ::GetLastError();
        return false;
    };
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) {
        out.error = ERROR_WINHTTP_TIMEOUT;
        return false;
    }
    // WinHTTP's own limits too, so that its work on a request left behind ends as well.
    const int ms = static_cast<int>(deadline - now);
    DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
    if (!::WinHttpSetTimeouts(request, ms, ms, ms, ms) ||
        !::WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                            sizeof(noRedirects)))
        return failed();
    unsigned before = Steps(p);
    if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                              0, 0))
        return failed();
    if (!Await(p, before, deadline, out.error)) return false;
    before = Steps(p);
    if (!::WinHttpReceiveResponse(request, nullptr)) return failed();
    if (!Await(p, before, deadline, out.error)) return false;
    DWORD size = sizeof(out.status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &out.status, &size,
                               WINHTTP_NO_HEADER_INDEX))
        return failed();
    // With its length known the body ends without one more read (a step costs a thread hop).
    DWORD length = 0;
    size = sizeof(length);
    const bool known = ::WinHttpQueryHeaders(
        request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
        WINHTTP_HEADER_NAME_BY_INDEX, &length, &size, WINHTTP_NO_HEADER_INDEX);
    for (;;) {
        if (known && out.body.size() >= length) return true;
        before = Steps(p);
        if (!::WinHttpReadData(request, p->buffer, kChunk, nullptr)) return failed();
        if (!Await(p, before, deadline, out.error)) return false;
        const DWORD n = p->read;
        if (n == 0) return true;
        if (out.body.size() + n > kMaxBody) {
            out.error = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        out.body.append(p->buffer, n);
    }
}

}  // namespace

HINTERNET OpenSession(const wchar_t* agent) {
    HINTERNET session = ::WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (session) {
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        ::WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof(never));
    }
    return session;
}

bool Exchange(HINTERNET connection, const wchar_t* path, ULONGLONG deadline, Answer& out) {
    HINTERNET request =
        ::WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_ESCAPE_DISABLE);
    if (!request) {
        out.error = ::GetLastError();
        return false;
    }
    auto* p = new (std::nothrow) Pending;
    if (p) ::InterlockedIncrement(&g_pending);
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(p);
    if (!p ||
        !::WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)) ||
        ::WinHttpSetStatusCallback(
            request, OnStatus,
            WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
            0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        out.error = p ? ::GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        ::WinHttpCloseHandle(request);
        if (p) {
            delete p;
            ::InterlockedDecrement(&g_pending);
        }
        return false;
    }
    const bool ok = Run(p, request, deadline, out);
    // Wine reports a receive that timed out as the socket's own error.
    if (!ok && (out.error == 0 || out.error == WSAETIMEDOUT)) out.error = ERROR_WINHTTP_TIMEOUT;
    LetGo(p, request, !ok && out.error == ERROR_WINHTTP_TIMEOUT);
    return ok;
}

void AwaitCallbacks() {
    const ULONGLONG end = ::GetTickCount64() + kUnloadWaitMs;
    while ((g_pending > 0 || g_calls > 0) && ::GetTickCount64() < end) ::Sleep(1);
    ::Sleep(kSettleMs);
}

}  // namespace textractor

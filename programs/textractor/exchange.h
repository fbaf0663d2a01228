#pragma once
// One HTTP GET to mirelo-server whose whole exchange keeps to a deadline. WinHTTP's own
// time-outs apply to each read, so a server that trickles its answer a byte at a time would
// hold the caller for as long as it liked; the request runs in WinHTTP's asynchronous mode and
// the caller stops waiting at the deadline.

#include "handles.h"

#include <windows.h>
#include <winhttp.h>

#include <string>

namespace textractor {

using UniqueInternet =
    mirelo::UniqueResource<mirelo::HandleTraits<HINTERNET, ::WinHttpCloseHandle>>;

struct Answer {
    DWORD error = 0;   // set when no complete answer came
    DWORD status = 0;  // the HTTP status, once the head has come
    std::string body;
};

// A session whose requests run asynchronously, never through a proxy, never redirected.
HINTERNET OpenSession(const wchar_t* agent);

// False when no complete answer came by `deadline` (a GetTickCount64 value): `out.error` then
// says why (ERROR_WINHTTP_TIMEOUT when time ran out).
bool Exchange(HINTERNET connection, const wchar_t* path, ULONGLONG deadline, Answer& out);

// At unload, once the session is closed: returns when WinHTTP has let go of every request and
// no callback into this DLL is under way (a request left to finish holds the DLL loaded).
void AwaitCallbacks();

// The connection could not be made at all: nothing listens on the port.
inline bool NothingListens(DWORD error) {
    return error == ERROR_WINHTTP_CANNOT_CONNECT;
}

}  // namespace textractor

// What the stand-in Textractor host and the extension's benchmark both need: Textractor's side
// of the interface, as its own source declares it, and two chores of a program run under Wine
// from the Linux side.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace textractor_side {

struct InfoForExtension {
    const char* name;
    int64_t value;
};
using OnNewSentenceFn = wchar_t* (*)(wchar_t*, const InfoForExtension*);

// A path given from the Linux side (/tmp/x) as Wine's Z: drive sees it; others as they are.
inline std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path = L"Z:" + path;
    }
    return path;
}

// A loopback port nothing listens on just now.
inline unsigned short FreePort() {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof(a);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::closesocket(s);
    ::WSACleanup();
    return ntohs(a.sin_port);
}

}  // namespace textractor_side

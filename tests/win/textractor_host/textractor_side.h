// What the stand-in Textractor host and the extension's benchmark both need: Textractor's side
// of the interface, as its own source declares it, chores of a program run under Wine from the
// Linux side, and a mirelo-server of their own.
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

// mirelo-server.exe of `folder` on `port` with `args`, hidden, in a job that ends it and its
// workers when the job's last handle closes (the caller's, or at the latest this process's
// end). The job, or null when the server cannot start.
inline HANDLE StartServerInJob(const std::wstring& folder, unsigned short port,
                               const std::wstring& args) {
    const std::wstring exe = folder + L"\\mirelo-server.exe";
    std::wstring command = L"\"" + exe + L"\" --port " + std::to_wstring(port) + L" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, folder.c_str(), &si, &pi)) {
        ::CloseHandle(job);
        return nullptr;
    }
    ::AssignProcessToJobObject(job, pi.hProcess);
    ::ResumeThread(pi.hThread);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return job;
}

}  // namespace textractor_side

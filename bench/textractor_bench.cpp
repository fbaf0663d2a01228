// The time per sentence through the Textractor extension against the same line sent straight
// to mirelo-server's /translate by a WinHTTP client, in one run against one server.
//
// Usage: textractor_bench EXTENSION_DLL SERVER_DIR WORK_DIR [ROUNDS]
// The engine folder must already be set (HKCU\Software\Kestrow\Mirelo FilePath); the server
// is started here on a free port. Each round sends one line both ways, in turn, so that both
// see the same machine; every line is answered from the plug-in's cache after a warm-up pass.

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "code_pages.h"
#include "textractor_side.h"

namespace {

using textractor_side::FreePort;
using textractor_side::InfoForExtension;
using textractor_side::OnNewSentenceFn;

double Now() {
    static LARGE_INTEGER f = [] {
        LARGE_INTEGER x;
        ::QueryPerformanceFrequency(&x);
        return x;
    }();
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

// The direct client: one session, one connection kept alive, the request the extension
// makes for a one-line sentence.
bool Direct(HINTERNET connection, const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::wstring path = L"/translate?text=";
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            path += static_cast<wchar_t>(c);
        } else {
            path += L'%';
            path += static_cast<wchar_t>(kHex[c >> 4]);
            path += static_cast<wchar_t>(kHex[c & 15]);
        }
    }
    HINTERNET r =
        ::WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_ESCAPE_DISABLE);
    bool ok = r &&
              ::WinHttpSendRequest(r, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                                   0, 0) &&
              ::WinHttpReceiveResponse(r, nullptr);
    DWORD status = 0, size = sizeof(status);
    ok = ok &&
         ::WinHttpQueryHeaders(r, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX) &&
         status == 200;
    char buffer[4096];
    DWORD read = 0;
    while (ok && ::WinHttpReadData(r, buffer, sizeof(buffer), &read) && read) {
    }
    if (r) ::WinHttpCloseHandle(r);
    return ok;
}

bool Through(OnNewSentenceFn fn, const std::wstring& line, const InfoForExtension* info) {
    HANDLE heap = ::GetProcessHeap();
    auto* buffer = static_cast<wchar_t*>(::HeapAlloc(heap, 0, (line.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(buffer, line.c_str(), line.size() + 1);
    wchar_t* out = fn(buffer, info);
    const bool translated = std::wcslen(out) > line.size();
    ::HeapFree(heap, 0, out);
    return translated;
}

struct Figures {
    double mean, median, p95;
};

Figures Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (double x : v) sum += x;
    return {sum / v.size(), v[v.size() / 2], v[v.size() * 95 / 100]};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: textractor_bench EXTENSION_DLL SERVER_DIR WORK_DIR [ROUNDS]\n");
        return 2;
    }
    const std::wstring dll = textractor_side::WindowsPath(argv[1]),
                       serverDir = textractor_side::WindowsPath(argv[2]),
                       work = textractor_side::WindowsPath(argv[3]);
    const int rounds = argc > 4 ? std::max(10, _wtoi(argv[4])) : 2000;
    ::CreateDirectoryW(work.c_str(), nullptr);
    const unsigned short port = FreePort();

    // The server first, so that the extension finds it rather than starting its own.
    HANDLE job = textractor_side::StartServerInJob(serverDir, port, L"--options 11");
    if (!job) {
        std::fprintf(stderr, "cannot start %ls\\mirelo-server.exe\n", serverDir.c_str());
        return 1;
    }

    HINTERNET session = ::WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = ::WinHttpConnect(session, L"127.0.0.1", port, 0);
    const ULONGLONG end = ::GetTickCount64() + 60000;
    while (!Direct(connection, mirelo::WideToUtf8(L"勇者"))) {
        if (::GetTickCount64() > end) {
            std::fprintf(stderr, "the server never answered\n");
            return 1;
        }
        ::Sleep(200);
    }

    const std::wstring xdll = work + L"\\Mirelo Translate.xdll";
    const std::string ini = "port=" + std::to_string(port) + "\r\n";
    HANDLE f = ::CreateFileW((work + L"\\Mirelo Translate.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(f, ini.data(), static_cast<DWORD>(ini.size()), &written, nullptr);
    ::CloseHandle(f);
    ::CopyFileW(dll.c_str(), xdll.c_str(), FALSE);
    HMODULE module = ::LoadLibraryW(xdll.c_str());
    auto fn = module ? reinterpret_cast<OnNewSentenceFn>(
                           reinterpret_cast<void*>(::GetProcAddress(module, "OnNewSentence")))
                     : nullptr;
    if (!fn) {
        std::fprintf(stderr, "cannot load %ls\n", xdll.c_str());
        return 1;
    }
    const InfoForExtension info[] = {{"current select", 1}, {"text number", 2}, {nullptr, 0}};
    while (!Through(fn, L"勇者", info)) {
        if (::GetTickCount64() > end) {
            std::fprintf(stderr, "the extension never translated\n");
            return 1;
        }
        ::Sleep(100);
    }

    std::vector<std::wstring> lines;
    for (int i = 0; i < 100; ++i)
        lines.push_back(L"勇者は魔王を倒した。試験" + std::to_wstring(i) + L"の日");
    for (const std::wstring& l : lines)
        Direct(connection, mirelo::WideToUtf8(l));  // into the cache

    std::vector<double> ext, direct;
    int failures = 0;
    for (int r = 0; r < rounds; ++r) {
        const std::wstring& line = lines[r % lines.size()];
        const std::string body = mirelo::WideToUtf8(line);
        double t = Now();
        failures += !Through(fn, line, info);
        ext.push_back(Now() - t);
        t = Now();
        failures += !Direct(connection, body);
        direct.push_back(Now() - t);
    }
    const Figures e = Summarise(ext), d = Summarise(direct);
    std::printf("%s, %d rounds, one line each (cached), %d failed\n",
                sizeof(void*) == 8 ? "64-bit" : "32-bit", rounds, failures);
    std::printf("through the extension: mean %.3f ms, median %.3f ms, 95th %.3f ms\n", e.mean,
                e.median, e.p95);
    std::printf("WinHTTP to /translate: mean %.3f ms, median %.3f ms, 95th %.3f ms\n", d.mean,
                d.median, d.p95);
    std::printf("ratio: mean %.2fx, median %.2fx (goal: at most 1.2x)\n", e.mean / d.mean,
                e.median / d.median);
    ::FreeLibrary(module);
    ::WinHttpCloseHandle(connection);
    ::WinHttpCloseHandle(session);
    ::CloseHandle(job);
    return failures ? 1 : 0;
}

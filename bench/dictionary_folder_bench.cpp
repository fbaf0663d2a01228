// Under Wine: what watching the dictionary folder costs. FolderSignature is one directory
// listing; the plug-in's builder thread makes one look (FolderWatch::Due) every 250 ms while
// nothing changes, and the worker itself only reads a flag per request.
#include <windows.h>

#include <cstdio>
#include <string>

#include "dictionary_folder_win.h"
#include "win_bench.h"

namespace {

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

void Write(const std::wstring& path, const char* text) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, text, static_cast<DWORD>(strlen(text)), &n, nullptr);
    CloseHandle(h);
}

}  // namespace

int main() {
    const std::wstring dir = mirelo::bench::TempPath(L"mirelo-folder-bench-");
    CreateDirectoryW(dir.c_str(), nullptr);
    const wchar_t* names[] = {L"10-names.txt", L"20-pre.txt", L"30-post.txt", L"old.off"};
    for (const wchar_t* name : names) Write(dir + L"\\" + name, "pre\tA\tB\n");

    LARGE_INTEGER t0, t1;
    constexpr int kLookups = 2000;
    QueryPerformanceCounter(&t0);
    uint64_t sink = 0;
    for (int k = 0; k < kLookups; ++k) sink += mirelo::dict::FolderSignature(dir);
    QueryPerformanceCounter(&t1);
    std::printf("FolderSignature, 4 files: %.1f us per call\n", 1e6 * Seconds(t0, t1) / kLookups);

    // The builder's looks at a folder that does not change.
    mirelo::dict::FolderWatch watch(dir);
    watch.Load();
    int due = 0;
    QueryPerformanceCounter(&t0);
    for (int k = 0; k < kLookups; ++k) due += watch.Due(GetTickCount64()) ? 1 : 0;
    QueryPerformanceCounter(&t1);
    const double look = 1e6 * Seconds(t0, t1) / kLookups;
    std::printf(
        "FolderWatch::Due: %.1f us per look, %.1f us of the builder's time a second "
        "at one look every %u ms (%d due)\n",
        look, look * 1000.0 / mirelo::dict::kLookIntervalMs, mirelo::dict::kLookIntervalMs, due);

    for (const wchar_t* name : names) DeleteFileW((dir + L"\\" + name).c_str());
    RemoveDirectoryW(dir.c_str());
    return sink == 1 ? 1 : 0;
}

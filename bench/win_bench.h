// Timing helpers of the benchmarks that run under Wine.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace mirelo::bench {

inline double NowSeconds() {
    static const LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A path in the temporary folder that no other run of a benchmark uses: `name` and this
// process's id.
inline std::wstring TempPath(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name + std::to_wstring(::GetCurrentProcessId());
}

}  // namespace mirelo::bench

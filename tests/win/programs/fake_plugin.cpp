// A plug-in with the four host exports and no engine, so the host tool can be tested on its
// own: it turns Shift-JIS into CP949 and misbehaves on request.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

char* g_options = nullptr;

// Calls are logged to the file named by MIRELO_FAKE_LOG, when set.
void Log(const std::string& line) {
    char path[MAX_PATH];
    if (!GetEnvironmentVariableA("MIRELO_FAKE_LOG", path, MAX_PATH)) return;
    if (FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

std::string Recode(const char* sjis) {
    int n = MultiByteToWideChar(932, 0, sjis, -1, nullptr, 0);
    std::wstring w(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(932, 0, sjis, -1, w.data(), n);
    int m = WideCharToMultiByte(949, 0, w.c_str(), -1, nullptr, 0, "?", nullptr);
    std::string s(m > 0 ? m : 1, '\0');
    WideCharToMultiByte(949, 0, w.c_str(), -1, s.data(), m, "?", nullptr);
    return s.c_str();
}

}  // namespace

extern "C" int __stdcall OnPluginInit(HWND wnd, char* options) {
    g_options = options;
    Log(std::string("init window=") + (IsWindow(wnd) ? "yes" : "no") + " options=" + options);
    char fail[8];
    return IsWindow(wnd) && options[0] != 'x' &&
           !GetEnvironmentVariableA("MIRELO_FAKE_FAIL_INIT", fail, sizeof fail);
}

extern "C" int __stdcall OnPluginOption() {
    Log("option");
    std::strcpy(g_options, "10");
    return 1;
}

extern "C" int __stdcall OnPluginClose() {
    Log("close");
    return 1;
}

extern "C" int __stdcall Translate(const char* src, char* dst, int size) {
    if (std::strcmp(src, "FAIL") == 0) return 0;
    if (std::strcmp(src, "NONE") == 0) return 1;  // no translation: the destination as it was
    if (std::strcmp(src, "OVERRUN") == 0) {
        std::memset(dst, 'O', static_cast<std::size_t>(size) + 1);
        dst[size - 1] = '\0';
        return 1;
    }
    if (std::strcmp(src, "NOTERM") == 0) {
        std::memset(dst, 'N', static_cast<std::size_t>(size));
        return 1;
    }
    std::string out = Recode(src);
    std::size_t n = out.size() < static_cast<std::size_t>(size) ? out.size() : size - 1;
    std::memcpy(dst, out.data(), n);
    dst[n] = '\0';
    return 1;
}

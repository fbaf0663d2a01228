#include "plugin_fixture.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace mirelo::test {
namespace {

constexpr wchar_t kKeyPath[] = L"Software\\Kestrow\\Mirelo";
constexpr wchar_t kValueName[] = L"FilePath";

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::DeleteFileW(path.c_str());  // a loaded engine may refuse; harmless
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(dir.c_str());
}

std::wstring UniqueTempDir() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids and a loaded engine's folder outlives its test: never reuse
    // a name that still exists.
    for (;;) {
        std::wstring dir = std::wstring(temp) + L"mirelo-test-" +
                           std::to_wstring(::GetCurrentProcessId()) + L"-" +
                           std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(counter++);
        if (::CreateDirectoryW(dir.c_str(), nullptr)) return dir;
    }
}

}  // namespace

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

std::string Scripted(const std::string& rules) {
    return "mode scripted\nlog calls.log\n" + rules;
}

EngineFolder::EngineFolder(const std::string& script, const wchar_t* engineFile)
    : root_(UniqueTempDir()) {
    if (engineFile != nullptr) {
        ::CopyFileW((BinDir() + L"\\" + engineFile).c_str(), (root_ + L"\\J2KEngine.dll").c_str(),
                    FALSE);
    }
    ::CreateDirectoryW(DataPath().c_str(), nullptr);
    std::ofstream(std::filesystem::path(DataPath() + L"\\standin.txt"), std::ios::binary) << script;
}

EngineFolder::~EngineFolder() {
    RemoveTree(root_);
}

std::vector<std::string> EngineFolder::Log() const {
    std::ifstream in(std::filesystem::path(DataPath() + L"\\calls.log"), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> EngineFolder::LogLines(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : Log()) {
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    }
    return out;
}

InstallPathValue::InstallPathValue(const std::wstring& value) {
    HKEY key = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr);
    DWORD size = 0;
    if (::RegQueryValueExW(key, kValueName, nullptr, &previousType_, nullptr, &size) ==
        ERROR_SUCCESS) {
        hadValue_ = true;
        previous_.resize(size);
        ::RegQueryValueExW(key, kValueName, nullptr, &previousType_, previous_.data(), &size);
    }
    ::RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

InstallPathValue::~InstallPathValue() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    if (hadValue_) {
        ::RegSetValueExW(key, kValueName, 0, previousType_, previous_.data(),
                         static_cast<DWORD>(previous_.size()));
    } else {
        ::RegDeleteValueW(key, kValueName);
    }
    ::RegCloseKey(key);
}

HostWindow::HostWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MireloTestHost";
    ::RegisterClassW(&wc);  // fails harmlessly when already registered
    hwnd_ = ::CreateWindowExW(0, wc.lpszClassName, L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, wc.hInstance, nullptr);
}

HostWindow::~HostWindow() {
    Destroy();
}

void HostWindow::Destroy() {
    if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

Plugin::Plugin() : module_(::LoadLibraryW((BinDir() + L"\\Mirelo.dll").c_str())) {
    if (module_ == nullptr) return;
    init = reinterpret_cast<InitFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "OnPluginInit")));
    option = reinterpret_cast<NoArgFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "OnPluginOption")));
    close = reinterpret_cast<NoArgFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "OnPluginClose")));
    translate = reinterpret_cast<TranslateFn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "Translate")));
}

Plugin::~Plugin() {
    Unload();
}

void Plugin::Unload() {
    if (module_ != nullptr) ::FreeLibrary(module_);
    module_ = nullptr;
}

int Plugin::TranslateText(const std::string& source, std::string& result) {
    std::vector<char> buffer(4096, '\x7f');
    buffer.back() = '\0';
    const int answered = translate(source.c_str(), buffer.data(), static_cast<int>(buffer.size()));
    result = buffer.data();
    return answered;
}

RunningPlugin::RunningPlugin(const std::string& script, const char* options)
    : engine(script), path(engine.Root()) {
    std::strncpy(optionBuffer, options, sizeof optionBuffer - 1);
    if (plugin.Loaded()) initResult = plugin.init(host.get(), optionBuffer);
}

RunningPlugin::~RunningPlugin() {
    if (!closed) Close();
}

int RunningPlugin::Close() {
    closed = true;
    return plugin.Loaded() ? plugin.close() : 0;
}

}  // namespace mirelo::test

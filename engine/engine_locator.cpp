#include <string>

#include "mirelo_app.h"

namespace mirelo {

void CMireloApp::InitializeEngine() {
    m_strInitError.clear();
    m_strDataPath.clear();
    try {
        m_strDataPath = ReadInstallPath();
        if (m_strDataPath.empty()) throw StartupError{kMsgInstallPathNotFound};
        LoadEngine();
    } catch (const StartupError& error) {
        m_strInitError = error.message;
    }
}

std::wstring CMireloApp::ReadInstallPath() {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Kestrow\\Mirelo", 0, KEY_QUERY_VALUE,
                        &raw) != ERROR_SUCCESS) {
        return {};
    }
    UniqueHKey key(raw);
    wchar_t buffer[260];
    DWORD size = sizeof buffer;
    if (::RegQueryValueExW(key.get(), L"FilePath", nullptr, nullptr,
                           reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        return {};
    }
    // The data need not end in a NUL: never read past what was returned.
    std::wstring value(buffer, size / sizeof(wchar_t));
    value = value.substr(0, value.find(L'\0'));
    if (value.empty()) return {};
    return value + L"\\Dat";
}

bool CMireloApp::IsAsciiPath(const wchar_t* path) {
    if (path == nullptr) return false;
    for (; *path != L'\0'; ++path) {
        if (*path >= 0x80) return false;
    }
    return true;
}

}  // namespace mirelo

#include "engine_locator.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "engine_loader.h"
#include "handles.h"

namespace mirelo {

namespace {

// The user's pick as "<folder>\Dat", or empty when cancelled or the item has no
// file-system path.
std::wstring BrowseForInstallFolder() {
    wchar_t path[kPathChars] = {};
    BROWSEINFOW info{};
    info.hwndOwner = nullptr;
    info.pidlRoot = nullptr;
    info.pszDisplayName = path;
    info.lpszTitle = kBrowseTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = nullptr;
    // The item list is ours to free whether or not it has a path.
    UniqueCoTaskMem<ITEMIDLIST> picked(::SHBrowseForFolderW(&info));
    if (!picked) return {};
    if (!::SHGetPathFromIDListW(picked.get(), path) || path[0] == L'\0') return {};
    ::SetEnvironmentVariableW(kPickedFolderVariable, path);
    return std::wstring(path) + kDataSuffix;
}

}  // namespace

std::wstring TextOfRegistryData(const wchar_t* data, size_t bytes) {
    std::wstring text(data, bytes / sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return text;
}

namespace engine {

EngineStartup InitializeEngine() {
    EngineStartup found;
    std::wstring& dataPath = found.dataPath;
    try {
        for (;;) {
            if (dataPath.empty()) {
                dataPath = ReadInstallPath();
                if (!dataPath.empty()) continue;
                const int answer = ::MessageBoxW(nullptr, kMsgAskForInstallPath, kLocatorTitle,
                                                 MB_YESNO | MB_TOPMOST);
                if (answer != IDYES) throw StartupError{kMsgInstallPathNotFound};
                // After a cancel the next pass reads the registry and asks again.
                dataPath = BrowseForInstallFolder();
                continue;
            }
            if (!IsAsciiPath(dataPath.c_str())) {
                const int answer =
                    ::MessageBoxW(nullptr, kMsgNonAsciiPath, kLocatorTitle, MB_YESNO);
                if (answer == IDNO) throw StartupError{kMsgUseEnglishFolder};
            }
            LoadEngine(dataPath, found.binding);
            return found;
        }
    } catch (const StartupError& error) {
        found.error = error.message;
    }
    return found;
}

std::wstring ReadInstallPath() {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kInstallKey, 0, KEY_QUERY_VALUE, &raw) !=
        ERROR_SUCCESS) {
        return {};
    }
    UniqueHKey key(raw);
    wchar_t buffer[kPathChars];
    DWORD size = sizeof buffer;
    if (::RegQueryValueExW(key.get(), kInstallValue, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
        return {};
    }
    key.reset();
    // Data stored without a terminator is taken up to its end, never beyond.
    const std::wstring folder = TextOfRegistryData(buffer, size);
    if (folder.empty()) return {};
    return folder + kDataSuffix;
}

bool IsAsciiPath(const wchar_t* path) {
    if (path == nullptr) return false;
    for (; *path != L'\0'; ++path) {
        if (*path >= 0x80) return false;
    }
    return true;
}

}  // namespace engine
}  // namespace mirelo

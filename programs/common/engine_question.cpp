#include "engine_question.h"

#include <windows.h>

#include "engine_locator.h"
#include "module_path.h"

namespace programs {
namespace {

bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring FileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool PluginWillAsk(const std::wstring& pluginPath) {
    return ::lstrcmpiW(FileName(pluginPath).c_str(), L"Mirelo.dll") == 0 &&
           mirelo::engine::ReadInstallPath().empty();
}

std::wstring PickedFolder() {
    wchar_t buffer[mirelo::kPathChars] = {};
    const DWORD n = ::GetEnvironmentVariableW(mirelo::kPickedFolderVariable, buffer,
                                              static_cast<DWORD>(mirelo::kPathChars));
    return n > 0 && n < mirelo::kPathChars ? std::wstring(buffer, n) : std::wstring();
}

void ForgetPickedFolder() {
    ::SetEnvironmentVariableW(mirelo::kPickedFolderVariable, nullptr);
}

std::wstring LoadedEngineFolder() {
    const HMODULE engine = ::GetModuleHandleW(L"J2KEngine.dll");
    if (engine == nullptr) return {};
    const std::wstring path = mirelo::ModulePath(engine);
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsMireloFolder(const std::wstring& folder) {
    if (folder.empty() || Exists(folder + L"\\J2KEngine.dll")) return false;
    for (const wchar_t* sub : {L"", L"\\x86", L"\\x64"}) {
        for (const wchar_t* name :
             {L"Mirelo.dll", L"mirelo-host.exe", L"mirelo-server.exe", L"Mirelo Translate.dll"}) {
            if (Exists(folder + sub + L"\\" + name)) return true;
        }
    }
    return false;
}

}  // namespace programs

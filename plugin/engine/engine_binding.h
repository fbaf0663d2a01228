#pragma once
// The outside engine's five functions, resolved at run time into one typed table.

#include <windows.h>

#include <string>

namespace mirelo {

using PfnJ2KInitializeEx = int(__stdcall*)(const char* clientKey, const char* dataPath);
using PfnJ2KTranslateMMNT = char*(__stdcall*)(int reserved, const char* text);
using PfnJ2KFreeMem = int(__stdcall*)(char* text);
using PfnJ2KStopTranslation = int(__stdcall*)(int reserved);
using PfnJ2KTerminate = int(__stdcall*)();

// Cleared as one block; the library it names is never unloaded.
struct EngineBinding {
    HMODULE hEngine;
    PfnJ2KInitializeEx pfnInitializeEx;
    PfnJ2KTranslateMMNT pfnTranslateMMNT;
    PfnJ2KFreeMem pfnFreeMem;
    PfnJ2KStopTranslation pfnStopTranslation;
    PfnJ2KTerminate pfnTerminate;

    bool CanTranslate() const { return pfnTranslateMMNT != nullptr && pfnFreeMem != nullptr; }
};

// A start-up failure: the message the user is shown, raised by the loader and the
// locator and caught only in InitializeEngine.
struct StartupError {
    std::wstring message;
};

inline constexpr char kClientKey[] = "MireloPlugIn";
static_assert(sizeof(kClientKey) == 13, "the engine expects a 12-character key");

inline constexpr wchar_t kMsgCannotLoadEngine[] = L"J2KEngine.dll을 로드할 수 없습니다.";
inline constexpr wchar_t kMsgInvalidEngine[] = L"잘못된 J2KEngine.dll 파일입니다.";
inline constexpr wchar_t kMsgInstallPathNotFound[] = L"Mirelo 가 설치된 경로를 찾을 수 없습니다.";

}  // namespace mirelo

// Finding the engine's install folder: the registry first, then the user; then loading
// the engine from it. Runs on the worker thread and hands back what it found.
#pragma once

#include <cstddef>
#include <string>

#include "engine_binding.h"

namespace mirelo {

inline constexpr wchar_t kInstallKey[] = L"Software\\Kestrow\\Mirelo";
inline constexpr wchar_t kInstallValue[] = L"FilePath";
inline constexpr wchar_t kDataSuffix[] = L"\\Dat";
inline constexpr size_t kPathChars = 260;  // registry and browser buffers, terminator included
// The folder the user picked in the browser, in the process's environment, for the programs
// that host the plug-in to tell the user what was picked (the plug-in never records it).
inline constexpr wchar_t kPickedFolderVariable[] = L"MIRELO_PICKED_FOLDER";

inline constexpr wchar_t kLocatorTitle[] = L"Mirelo Plugin";
inline constexpr wchar_t kMsgAskForInstallPath[] =
    L"Mirelo가 설치된 경로를 찾을 수 없습니다.\r\n경로를 직접 찾으시겠습니까?";
inline constexpr wchar_t kBrowseTitle[] = L"Mirelo 위치 지정";
inline constexpr wchar_t kMsgNonAsciiPath[] =
    L"Mirelo 경로에 한글이 섞여 있을 경우 제대로 동작하지 않을 수 있습니다.\r\n"
    L"그래도 계속 진행하시겠습니까?";
inline constexpr wchar_t kMsgUseEnglishFolder[] =
    L"Mirelo를 영문 폴더에 설치하신 후 다시 시도해 주십시오.";

// The text of registry data of `bytes` bytes: up to its first NUL, or up to the
// end of the data when it has none. Never reads past `bytes`; an odd last byte
// is no character and is dropped.
std::wstring TextOfRegistryData(const wchar_t* data, size_t bytes);

namespace engine {

// The outcome of engine start-up: an empty error means the engine is bound.
struct EngineStartup {
    EngineBinding binding{};
    std::wstring dataPath;
    std::wstring error;
};

// The whole of engine start-up, with its questions and folder browser; the one place
// where start-up errors are caught.
EngineStartup InitializeEngine();

// The install folder from the registry followed by "\Dat", or empty.
std::wstring ReadInstallPath();

bool IsAsciiPath(const wchar_t* path);

}  // namespace engine
}  // namespace mirelo

#include "engine_loader.h"

#include <cstdint>

#include "engine_guard.h"

namespace mirelo::engine {
namespace {

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn& field) {
    field = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

void LoadEngine(const std::wstring& dataPath, EngineBinding& binding) {
    binding = EngineBinding{};

    const std::wstring libraryPath = dataPath + L"\\..\\J2KEngine.dll";
    binding.hEngine = ::LoadLibraryW(libraryPath.c_str());
    if (binding.hEngine == nullptr) throw StartupError{kMsgCannotLoadEngine};

    // All five are looked up before any is tested. J2K_Terminate is required of a whole
    // engine, and ShutdownEngine stops the engine only when it is there, but nothing calls
    // it: the library stays loaded for the life of the process, and a later OnPluginInit
    // starts that same engine again with J2K_InitializeEx, so between sessions it is only
    // told J2K_StopTranslation.
    Resolve(binding.hEngine, "J2K_InitializeEx", binding.pfnInitializeEx);
    Resolve(binding.hEngine, "J2K_TranslateMMNT", binding.pfnTranslateMMNT);
    Resolve(binding.hEngine, "J2K_FreeMem", binding.pfnFreeMem);
    Resolve(binding.hEngine, "J2K_StopTranslation", binding.pfnStopTranslation);
    Resolve(binding.hEngine, "J2K_Terminate", binding.pfnTerminate);
    if (!binding.pfnInitializeEx || !binding.pfnTranslateMMNT || !binding.pfnFreeMem ||
        !binding.pfnStopTranslation || !binding.pfnTerminate) {
        throw StartupError{kMsgInvalidEngine};
    }

    // A path whose ANSI form does not fit would reach the engine unterminated; such an
    // engine is never started or called.
    char ansiPath[MAX_PATH];
    if (::WideCharToMultiByte(CP_ACP, 0, dataPath.c_str(), -1, ansiPath, sizeof ansiPath, nullptr,
                              nullptr) == 0) {
        binding = EngineBinding{};
        throw StartupError{kMsgCannotLoadEngine};
    }
    auto start = [fn = binding.pfnInitializeEx, path = &ansiPath[0]] { fn(kClientKey, path); };
    if (!Guarded(start, nullptr)) {
        binding = EngineBinding{};
        throw StartupError{kMsgInvalidEngine};
    }
}

void ShutdownEngine(const EngineBinding& binding) {
    if (binding.pfnStopTranslation == nullptr || binding.pfnTerminate == nullptr) return;
    auto stop = [fn = binding.pfnStopTranslation] { fn(0); };
    Guarded(stop, nullptr);
}

}  // namespace mirelo::engine

#include <string>

#include "mirelo_app.h"

namespace mirelo {
namespace {

template <typename Fn>
void Resolve(HMODULE module, const char* name, Fn& field) {
    field = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

void CMireloApp::LoadEngine() {
    m_engine = EngineBinding{};

    const std::wstring libraryPath = m_strDataPath + L"\\..\\J2KEngine.dll";
    m_engine.hEngine = ::LoadLibraryW(libraryPath.c_str());
    if (m_engine.hEngine == nullptr) throw StartupError{kMsgCannotLoadEngine};

    // All five are looked up before any is tested.
    Resolve(m_engine.hEngine, "J2K_InitializeEx", m_engine.pfnInitializeEx);
    Resolve(m_engine.hEngine, "J2K_TranslateMMNT", m_engine.pfnTranslateMMNT);
    Resolve(m_engine.hEngine, "J2K_FreeMem", m_engine.pfnFreeMem);
    Resolve(m_engine.hEngine, "J2K_StopTranslation", m_engine.pfnStopTranslation);
    Resolve(m_engine.hEngine, "J2K_Terminate", m_engine.pfnTerminate);
    if (!m_engine.pfnInitializeEx || !m_engine.pfnTranslateMMNT || !m_engine.pfnFreeMem ||
        !m_engine.pfnStopTranslation || !m_engine.pfnTerminate) {
        throw StartupError{kMsgInvalidEngine};
    }

    // A path whose ANSI form does not fit would reach the engine unterminated; such an
    // engine is never started or called.
    char ansiPath[MAX_PATH];
    if (::WideCharToMultiByte(CP_ACP, 0, m_strDataPath.c_str(), -1, ansiPath, sizeof ansiPath,
                              nullptr, nullptr) == 0) {
        m_engine = EngineBinding{};
        throw StartupError{kMsgCannotLoadEngine};
    }
    m_engine.pfnInitializeEx(kClientKey, ansiPath);
}

void CMireloApp::ShutdownEngine(const EngineBinding& engine, bool current) {
    if (engine.pfnStopTranslation != nullptr && engine.pfnTerminate != nullptr) {
        engine.pfnStopTranslation(0);
    }
    // A worker that outlived its close must not undo what a newer start-up set.
    if (!current) return;
    m_engine = EngineBinding{};
    g_hHostWnd.store(nullptr);
}

}  // namespace mirelo

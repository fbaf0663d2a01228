// CMireloApp's engine operations: engine/ does the work and hands back what it found.

#include "engine_loader.h"
#include "engine_locator.h"
#include "mirelo_app.h"

namespace mirelo {

void CMireloApp::InitializeEngine() {
    engine::EngineStartup found = engine::InitializeEngine();
    m_engine = found.binding;
    m_strDataPath = std::move(found.dataPath);
    m_strInitError = std::move(found.error);
}

void CMireloApp::LoadEngine() {
    engine::LoadEngine(m_strDataPath, m_engine);
}

void CMireloApp::ShutdownEngine(const EngineBinding& engine, bool current) {
    engine::ShutdownEngine(engine);
    // A worker that outlived its close must not undo what a newer start-up set.
    if (!current) return;
    m_engine = EngineBinding{};
    g_hHostWnd.store(nullptr);
}

}  // namespace mirelo

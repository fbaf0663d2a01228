#include "app_framework.h"

namespace mirelo {
namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp() {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::HandleDllMain(HINSTANCE instance, DWORD reason) {
    if (reason != DLL_PROCESS_ATTACH || g_pApp == nullptr) return TRUE;
    g_pApp->m_hInstance = instance;
    return g_pApp->InitInstance();
}

}  // namespace mirelo

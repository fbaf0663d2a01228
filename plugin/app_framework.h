#pragma once
// The little of an application framework that the plug-in needs: one static
// application object per module whose per-instance initialisation runs while the
// library is being loaded.

#include <windows.h>

namespace mirelo {

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs inside DllMain, under the loader lock: keep it free of threads and waits.
    virtual BOOL InitInstance() { return TRUE; }

    HINSTANCE ModuleInstance() const { return m_hInstance; }

    // The module's entry point hands its events to the application object.
    static BOOL HandleDllMain(HINSTANCE instance, DWORD reason);

  private:
    HINSTANCE m_hInstance = nullptr;
};

}  // namespace mirelo

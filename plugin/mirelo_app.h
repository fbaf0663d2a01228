#pragma once
// The plug-in's single application object: all state shared between the host's
// threads and the translation worker.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "app_framework.h"
#include "engine_binding.h"
#include "handles.h"
#include "hang_notice.h"
#include "locks.h"
#include "request_slot.h"

namespace mirelo {

inline constexpr DWORD kTranslateTimeoutMs = 3000;
inline constexpr DWORD kCloseTimeoutMs = 3000;
// A box that has not gone by then keeps the module loaded until it does.
inline constexpr DWORD kNoticeCloseTimeoutMs = 1000;
inline constexpr wchar_t kInitErrorTitle[] = L"Mirelo Initialize Error";
inline constexpr wchar_t kMsgCannotStartThread[] = L"Mirelo 쓰레드를 시작할 수 없습니다.";

class CMireloApp : public CWinApp {
  public:
    CMireloApp();
    ~CMireloApp() override;

    BOOL InitInstance() override;

    int OnPluginInit(HWND hostWnd, char* optionString);
    int OnPluginOption();
    int OnPluginClose();
    int Translate(const char* source, char* dest, int32_t destSize);

    // Engine start-up and shutdown, forwarded to engine/; they run on the worker thread
    // only and keep what the engine side found.
    void InitializeEngine();
    void LoadEngine();
    void ShutdownEngine(const EngineBinding& engine, bool current);

    EngineBinding m_engine{};
    std::atomic<int32_t> m_bRemoveBrackets{0};
    std::atomic<int32_t> m_bRemoveDupSpaces{0};
    UniqueHandle m_hWorkerThread;
    UniqueHandle m_hRequestEvent;
    UniqueHandle m_hDoneEvent;
    // Held by a Translate caller for its whole request: the slot takes one at a time.
    DeadlineLock m_csTranslate;
    std::wstring m_strDataPath;
    std::wstring m_strInitError;

    // The one request in flight and the rules of handing it to the worker.
    RequestSlot m_slot;
    // Tells the player once per session that the engine is stuck and lines go untranslated.
    HangNotice m_hangNotice;

    // A worker that did not end within a close's wait; the next start-up waits for it, so
    // that two workers are never in the engine at once.
    UniqueHandle m_hLingeringWorker;

    // The worker runs while this holds its generation; 0 stops every worker. A worker
    // left behind by a timed-out close sees a newer generation and stops too.
    std::atomic<uint32_t> m_runningGeneration{0};
    std::atomic<uint32_t> m_lastGeneration{0};

  private:
    int FailInit(const wchar_t* message);
    void ReleaseKernelObjects();
};

extern CMireloApp theApp;
extern std::atomic<HWND> g_hHostWnd;
extern char* g_pOptionString;

}  // namespace mirelo

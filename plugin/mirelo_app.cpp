#include "mirelo_app.h"

#include <process.h>

#include <utility>

#include "option_dialog.h"
#include "option_string.h"
#include "worker_thread.h"

namespace mirelo {

CMireloApp theApp;
std::atomic<HWND> g_hHostWnd{nullptr};
char* g_pOptionString = nullptr;

CMireloApp::CMireloApp() = default;

// Stopping the worker is OnPluginClose's job; at unload nothing may wait on it.
CMireloApp::~CMireloApp() = default;

BOOL CMireloApp::InitInstance() {
    CWinApp::InitInstance();
    return TRUE;
}

int CMireloApp::FailInit(const wchar_t* message) {
    ::MessageBoxW(nullptr, message, kInitErrorTitle, MB_TOPMOST);
    return 0;
}

void CMireloApp::ReleaseKernelObjects() {
    m_hRequestEvent.reset();
    m_hDoneEvent.reset();
}

int CMireloApp::OnPluginInit(HWND hostWnd, char* optionString) {
    // A second start without a close would strand the first worker: close it first.
    if (m_hWorkerThread) OnPluginClose();
    // The last worker may still be in the engine; it leaves nothing behind once it ends.
    if (m_hLingeringWorker) {
        ::WaitForSingleObject(m_hLingeringWorker.get(), INFINITE);
        m_hLingeringWorker.reset();
    }
    m_slot.Reset();

    g_hHostWnd.store(hostWnd);
    g_pOptionString = optionString;
    const OptionFlags flags = optionString ? ParseOptionString(optionString) : OptionFlags{1, 0};
    m_bRemoveBrackets.store(flags.removeBrackets);
    m_bRemoveDupSpaces.store(flags.removeDupSpaces);

    m_hRequestEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_hDoneEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_hRequestEvent || !m_hDoneEvent) return FailInit(kMsgCannotStartThread);

    uint32_t generation = m_lastGeneration.load() + 1;
    if (generation == 0) generation = 1;
    auto start = WorkerStart::Create(*this, generation);
    if (!start) return FailInit(kMsgCannotStartThread);

    m_lastGeneration.store(generation);
    m_runningGeneration.store(generation);
    auto thread = reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, WorkerThreadMain, start.get(), 0, nullptr));
    if (thread == nullptr) {
        m_runningGeneration.store(0);
        return FailInit(kMsgCannotStartThread);
    }
    static_cast<void>(start.release());  // the worker owns it now
    m_hWorkerThread.reset(thread);

    ::WaitForSingleObject(m_hDoneEvent.get(), INFINITE);
    if (m_strInitError.empty()) return 1;
    return FailInit(m_strInitError.c_str());
}

int CMireloApp::OnPluginOption() {
    const HWND host = g_hHostWnd.load();
    if (host == nullptr || !::IsWindow(host)) return 1;

    CMireloOptionDlg dialog(nullptr);
    dialog.m_bRemoveBrackets = m_bRemoveBrackets.load();
    dialog.m_bRemoveDupSpaces = m_bRemoveDupSpaces.load();
    // Cancel, Escape, the close box and a dialog that cannot be made all change nothing.
    if (dialog.DoModal() != IDOK) return 1;
    m_bRemoveBrackets.store(dialog.m_bRemoveBrackets);
    m_bRemoveDupSpaces.store(dialog.m_bRemoveDupSpaces);
    if (g_pOptionString != nullptr) {
        WriteOptionString({m_bRemoveBrackets.load(), m_bRemoveDupSpaces.load()}, g_pOptionString);
    }
    return 1;
}

int CMireloApp::OnPluginClose() {
    m_hangNotice.Close(kNoticeCloseTimeoutMs);
    if (m_hWorkerThread) {
        UniqueHandle thread = std::move(m_hWorkerThread);
        m_runningGeneration.store(0);
        ::SetEvent(m_hRequestEvent.get());
        if (::WaitForSingleObject(thread.get(), kCloseTimeoutMs) == WAIT_TIMEOUT) {
            m_hLingeringWorker = std::move(thread);
        }
    }
    ReleaseKernelObjects();
    return 1;
}

int CMireloApp::Translate(const char* source, char* dest, int32_t destSize) {
    // Outside OnPluginInit..OnPluginClose there is no worker to answer.
    if (!m_hWorkerThread || !m_hRequestEvent || !m_hDoneEvent) return 0;
    // A stuck engine has had its wait already; the host must not pay it again for each line.
    if (m_slot.Refusing()) return 0;

    // The time limit counts from the call, the wait for other callers included.
    const ULONGLONG deadline = ::GetTickCount64() + kTranslateTimeoutMs;
    auto callerGuard = m_csTranslate.LockUntil(deadline);
    if (!callerGuard) return 0;
    const int answered = m_slot.Call(callerGuard, {source, dest, destSize}, m_hRequestEvent.get(),
                                     m_hDoneEvent.get(), deadline);
    // Only the call that found the engine stuck gets here refusing: the next ones stop above.
    if (answered == 0 && m_slot.Refusing()) m_hangNotice.Show();
    return answered;
}

}  // namespace mirelo

#include "hang_notice.h"

#include <new>

#include "module_path.h"

namespace mirelo {
namespace {

struct Box {
    std::wstring text;
    HMODULE module;  // the reference the thread holds
    const std::atomic<bool>* closing;
};

BOOL CALLBACK PressOk(HWND window, LPARAM) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (::lstrcmpW(name, L"#32770") == 0) {
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(window, IDOK)));
    }
    return TRUE;
}

}  // namespace

std::wstring EngineStoppedText(const std::wstring& hostPath) {
    std::wstring text = kMsgEngineStopped;
    const size_t slash = hostPath.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? hostPath : hostPath.substr(slash + 1);
    if (name.empty()) name = L"?";
    const size_t at = text.find(L"{0}");
    if (at != std::wstring::npos) text.replace(at, 3, name);
    return text;
}

void HangNotice::Show() {
    auto guard = m_lock.Lock();
    if (m_shown) return;
    m_shown = true;
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&HangNotice::Run), &module))
        return;
    Box* box = new (std::nothrow) Box{};
    if (box != nullptr) {
        try {
            box->text = EngineStoppedText(ModulePath(nullptr));
        } catch (const std::bad_alloc&) {
            delete box;
            box = nullptr;
        }
    }
    if (box == nullptr) {
        ::FreeLibrary(module);
        return;
    }
    box->module = module;
    box->closing = &m_closing;
    m_closing.store(false);
    DWORD id = 0;
    UniqueHandle thread(::CreateThread(nullptr, 0, &HangNotice::Run, box, 0, &id));
    if (!thread) {
        delete box;
        ::FreeLibrary(module);
        return;
    }
    m_thread = std::move(thread);
    m_threadId = id;
}

DWORD WINAPI HangNotice::Run(void* param) {
    Box* box = static_cast<Box*>(param);
    // No owner: the host's window stays usable. Not top-most: the game may cover it.
    if (!box->closing->load())
        ::MessageBoxW(nullptr, box->text.c_str(), kHangNoticeTitle, MB_OK | MB_ICONWARNING);
    const HMODULE module = box->module;
    delete box;
    ::FreeLibraryAndExitThread(module, 0);
}

void HangNotice::Close(DWORD waitMs) {
    UniqueHandle thread;
    DWORD id = 0;
    {
        auto guard = m_lock.Lock();
        m_shown = false;
        m_closing.store(true);
        thread = std::move(m_thread);
        id = m_threadId;
    }
    if (!thread) return;
    // The box may not be up yet when the close comes: press OK until the thread is gone.
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;) {
        ::EnumThreadWindows(id, PressOk, 0);
        if (::WaitForSingleObject(thread.get(), 20) != WAIT_TIMEOUT) return;
        if (::GetTickCount64() >= deadline) return;
    }
}

}  // namespace mirelo

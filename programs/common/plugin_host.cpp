#include "plugin_host.h"

#include "code_pages.h"
#include "messages.h"
#include "module_path.h"

namespace programs {
namespace {

template <class F>
F Resolve(HMODULE m, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

const wchar_t kWindowClass[] = L"MireloHostWindow";

}  // namespace

std::wstring PluginPath(const std::wstring& given) {
    if (given.empty()) return mirelo::ModuleFolder(nullptr) + L"\\Mirelo.dll";
    wchar_t buf[MAX_PATH];
    DWORD n = GetFullPathNameW(given.c_str(), MAX_PATH, buf, nullptr);
    return (n > 0 && n < MAX_PATH) ? std::wstring(buf, n) : given;
}

PluginHost::~PluginHost() {
    Close();
}

LoadResult PluginHost::Load(const std::wstring& path, std::string& message) {
    m_module.reset(LoadLibraryW(path.c_str()));
    if (!m_module) {
        DWORD err = GetLastError();
        message = Format(Msg::kCannotLoadPlugin,
                         {mirelo::WideToUtf8(path), SystemMessage(err), std::to_string(err)});
        return LoadResult::kNoLibrary;
    }
    m_init = Resolve<InitFn>(m_module.get(), "OnPluginInit");
    m_option = Resolve<OptionFn>(m_module.get(), "OnPluginOption");
    m_close = Resolve<CloseFn>(m_module.get(), "OnPluginClose");
    m_translate = Resolve<TranslateFn>(m_module.get(), "Translate");
    std::string missing;
    auto need = [&](bool present, const char* name) {
        if (present) return;
        missing += missing.empty() ? "" : ", ";
        missing += name;
    };
    need(m_init, "OnPluginInit");
    need(m_option, "OnPluginOption");
    need(m_close, "OnPluginClose");
    need(m_translate, "Translate");
    if (!missing.empty()) {
        message = Format(Msg::kPluginLacksExports, {mirelo::WideToUtf8(path), missing});
        return LoadResult::kMissingExport;
    }
    return LoadResult::kLoaded;
}

void PluginHost::Close() {
    if (!m_open) return;
    m_open = false;
    m_close();
}

Answer ReadAnswer(const char* dest, std::size_t size, std::size_t& length) {
    if (const void* nul = std::memchr(dest, '\0', size)) {
        length = static_cast<std::size_t>(static_cast<const char*>(nul) - dest);
        return Answer::kText;
    }
    length = size;
    for (std::size_t i = 0; i < size; ++i)
        if (dest[i] != kUntouchedByte) return Answer::kNoTerminator;
    return Answer::kUntouched;
}

HostWindow::HostWindow() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = inst;
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    m_wnd = CreateWindowExW(0, kWindowClass, L"mirelo-host", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, inst,
                            nullptr);
    if (!m_wnd)
        m_wnd = CreateWindowExW(0, kWindowClass, L"mirelo-host", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, inst, nullptr);
}

HostWindow::~HostWindow() {
    Destroy();
}

void HostWindow::Destroy() {
    if (m_wnd) DestroyWindow(m_wnd);
    m_wnd = nullptr;
}

void HostWindow::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace programs

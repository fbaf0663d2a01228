#include "locator_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>

namespace mirelo::test {

namespace {

// The browser may still be filling its tree when it first shows, and then selects
// its root over ours: select until the tree shows the chosen folder (a drive shows
// as a label around "C:"), for 3 s at most.
void SelectInBrowser(HWND browser, const std::wstring& path) {
    std::wstring leaf = path;
    while (leaf.size() > 1 && leaf.back() == L'\\') leaf.pop_back();
    leaf = leaf.substr(leaf.find_last_of(L'\\') + 1);
    const HWND tree = FindWindowExW(browser, nullptr, L"SysTreeView32", nullptr);
    for (int attempt = 0; attempt < 60; ++attempt) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(browser, BFFM_SETSELECTIONW, TRUE,
                            reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, 5000, &ignored);
        if (tree == nullptr || leaf.empty()) return;
        Sleep(50);
        wchar_t text[MAX_PATH] = {};
        TVITEMW item{};
        item.mask = TVIF_TEXT;
        item.hItem =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        if (item.hItem != nullptr &&
            SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) &&
            wcsstr(text, leaf.c_str()) != nullptr) {
            return;
        }
    }
}

}  // namespace

namespace {

constexpr wchar_t kQuestionText[] =
    L"Mirelo\uAC00 \uC124\uCE58\uB41C \uACBD\uB85C\uB97C \uCC3E\uC744 \uC218 "
    L"\uC5C6\uC2B5\uB2C8\uB2E4.\r\n\uACBD\uB85C\uB97C \uC9C1\uC811 "
    L"\uCC3E\uC73C\uC2DC\uACA0\uC2B5\uB2C8\uAE4C?";

CallLog g_log;
decltype(&MessageBoxW) g_messageBox = nullptr;
decltype(&RegQueryValueExW) g_regQuery = nullptr;
decltype(&SHBrowseForFolderW) g_browse = nullptr;
decltype(&LoadLibraryW) g_loadLibrary = nullptr;
decltype(&CoTaskMemFree) g_free = nullptr;

int WINAPI HookMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
    {
        std::lock_guard lock(g_log.mutex);
        g_log.boxes.push_back({owner, text ? text : L"", caption ? caption : L"", flags});
    }
    return g_messageBox(owner, text, caption, flags);
}

LSTATUS WINAPI HookRegQuery(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                            LPDWORD size) {
    {
        std::lock_guard lock(g_log.mutex);
        ++g_log.registryReads;
    }
    return g_regQuery(key, name, reserved, type, data, size);
}

PIDLIST_ABSOLUTE WINAPI HookBrowse(LPBROWSEINFOW info) {
    BrowseCall call{info->hwndOwner,
                    info->pidlRoot == nullptr,
                    info->pszDisplayName != nullptr,
                    info->lpszTitle ? info->lpszTitle : L"",
                    info->ulFlags,
                    info->lpfn != nullptr,
                    nullptr};
    for (int i = 0; call.displayBufferZeroed && i < MAX_PATH; ++i) {
        call.displayBufferZeroed = info->pszDisplayName[i] == L'\0';
    }
    bool withoutPath;
    {
        std::lock_guard lock(g_log.mutex);
        withoutPath = g_log.browserGivesItemWithoutPath;
    }
    PIDLIST_ABSOLUTE result = nullptr;
    if (withoutPath) {
        // "My Computer": a real item with no file-system path.
        SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &result);
    } else {
        result = g_browse(info);
    }
    call.result = result;
    std::lock_guard lock(g_log.mutex);
    g_log.browses.push_back(call);
    return result;
}

HMODULE WINAPI HookLoadLibrary(LPCWSTR path) {
    {
        std::lock_guard lock(g_log.mutex);
        g_log.loads.push_back(path ? path : L"(null)");
    }
    return g_loadLibrary(path);
}

void WINAPI HookFree(LPVOID p) {
    {
        std::lock_guard lock(g_log.mutex);
        g_log.freed.push_back(p);
    }
    g_free(p);
}

template <typename Fn>
std::unique_ptr<IatHook> Hook(HMODULE module, const char* dll, const char* name, Fn replacement,
                              Fn& original) {
    auto hook =
        std::make_unique<IatHook>(module, dll, name, reinterpret_cast<const void*>(replacement));
    original = hook->Original<Fn>();
    return hook;
}

}  // namespace

HookedPlugin::HookedPlugin() : m_module(BinDir() + L"\\Mirelo.dll") {
    {
        std::lock_guard lock(g_log.mutex);
        g_log.boxes.clear();
        g_log.browses.clear();
        g_log.loads.clear();
        g_log.freed.clear();
        g_log.registryReads = 0;
        g_log.browserGivesItemWithoutPath = false;
    }
    if (!m_module.get()) return;
    m_init = m_module.proc<decltype(m_init)>("OnPluginInit");
    m_option = m_module.proc<decltype(m_option)>("OnPluginOption");
    m_close = m_module.proc<decltype(m_close)>("OnPluginClose");
    const HMODULE mirelo = m_module.get();
    m_hooks.push_back(Hook(mirelo, "user32.dll", "MessageBoxW", &HookMessageBox, g_messageBox));
    m_hooks.push_back(Hook(mirelo, "advapi32.dll", "RegQueryValueExW", &HookRegQuery, g_regQuery));
    m_hooks.push_back(Hook(mirelo, "shell32.dll", "SHBrowseForFolderW", &HookBrowse, g_browse));
    m_hooks.push_back(
        Hook(mirelo, "kernel32.dll", "LoadLibraryW", &HookLoadLibrary, g_loadLibrary));
    m_hooks.push_back(Hook(mirelo, "ole32.dll", "CoTaskMemFree", &HookFree, g_free));
}

HookedPlugin::~HookedPlugin() {
    if (m_open) Close();
    if (m_host) DestroyWindow(m_host);
    m_hooks.clear();
    m_module.Free();
}

bool HookedPlugin::Ready() const {
    if (!m_module.get() || !m_init || !m_option || !m_close) return false;
    for (const auto& hook : m_hooks) {
        if (!hook->Installed()) return false;
    }
    return true;
}

int HookedPlugin::Init(const char* options) {
    std::fill(std::begin(m_options), std::end(m_options), '#');
    lstrcpynA(m_options, options, sizeof m_options);
    return Reinit();
}

int HookedPlugin::Reinit() {
    if (!m_host) {
        m_host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    }
    m_open = true;
    return m_init(m_host, m_options);
}

int HookedPlugin::Option() {
    return m_option();
}

int HookedPlugin::Close() {
    m_open = false;
    return m_close();
}

void HookedPlugin::DestroyHostWindow() {
    DestroyWindow(m_host);
    m_host = nullptr;
}

CallLog& HookedPlugin::Log() {
    return g_log;
}

std::vector<BoxCall> HookedPlugin::Boxes() {
    std::lock_guard lock(g_log.mutex);
    return g_log.boxes;
}

std::unique_ptr<UiWatcher> AnswerWith(const UserScript& script) {
    struct State {
        std::mutex mutex;
        UserScript script;
        size_t questions = 0, browsers = 0;
    };
    auto state = std::make_shared<State>();
    state->script = script;
    return std::make_unique<UiWatcher>([state](const SeenWindow& w) {
        std::lock_guard lock(state->mutex);
        const UserScript& s = state->script;
        if (w.caption == L"Mirelo Initialize Error") {
            PressButton(w.hwnd, IDOK);
        } else if (w.caption == L"Mirelo Plugin" && w.text == kQuestionText) {
            const size_t i = state->questions++;
            PressButton(w.hwnd, i < s.questionAnswers.size() ? s.questionAnswers[i] : IDNO);
        } else if (w.caption == L"Mirelo Plugin") {
            PressButton(w.hwnd, s.warningAnswer);
        } else if (!w.text.empty()) {
            PressButton(w.hwnd, IDCANCEL);  // a box nobody expected
        } else {
            const size_t i = state->browsers++;
            const std::wstring choice = i < s.browserChoices.size() ? s.browserChoices[i] : L"";
            if (!choice.empty()) {
                SelectInBrowser(w.hwnd, choice);
                PressButton(w.hwnd, IDOK);
            } else {
                PressButton(w.hwnd, IDCANCEL);
            }
        }
    });
}

}  // namespace mirelo::test

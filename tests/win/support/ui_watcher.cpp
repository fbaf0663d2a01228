#include "ui_watcher.h"

#include <chrono>

namespace mirelo::test {

namespace {

struct EnumState {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND hwnd, LPARAM lParam) {
    auto* state = reinterpret_cast<EnumState*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != state->pid || !IsWindowVisible(hwnd)) return TRUE;
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (lstrcmpW(cls, L"#32770") == 0) state->found.push_back(hwnd);
    return TRUE;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t buf[1024] = {};
    GetWindowTextW(hwnd, buf, 1024);
    return buf;
}

HWND FocusTarget(HWND dlg) {
    // The default button takes the keys when nothing inside has focus yet.
    HWND ok = GetDlgItem(dlg, IDOK);
    return ok ? ok : dlg;
}

void PostKey(HWND dlg, WPARAM vk) {
    HWND target = FocusTarget(dlg);
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
}

}  // namespace

UiWatcher::UiWatcher(Handler handler, DWORD pollMs)
    : m_handler(std::move(handler)), m_pollMs(pollMs), m_thread([this] { Run(); }) {}

UiWatcher::~UiWatcher() {
    m_stop = true;
    m_thread.join();
}

void UiWatcher::Run() {
    while (!m_stop) {
        EnumState state{GetCurrentProcessId(), {}};
        EnumWindows(&CollectDialogs, reinterpret_cast<LPARAM>(&state));
        std::unordered_set<HWND> now(state.found.begin(), state.found.end());
        for (HWND hwnd : state.found) {
            if (m_present.count(hwnd)) continue;
            SeenWindow seen;
            seen.hwnd = hwnd;
            seen.caption = TextOf(hwnd);
            wchar_t text[2048] = {};
            GetDlgItemTextW(hwnd, 0xFFFF, text, 2048);
            seen.text = text;
            seen.style = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
            seen.exStyle = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
            // Recorded before it is answered: the answer may let the code under test go on,
            // and the test look, before this thread runs again.
            {
                std::lock_guard lock(m_mutex);
                m_seen.push_back(seen);
            }
            if (m_handler) m_handler(seen);
            {
                std::lock_guard lock(m_mutex);
                ++m_handled;
            }
            m_changed.notify_all();
        }
        m_present = std::move(now);
        Sleep(m_pollMs);
    }
}

bool UiWatcher::WaitForCount(size_t count, DWORD timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_handled >= count; });
}

std::vector<SeenWindow> UiWatcher::Seen() const {
    std::lock_guard lock(m_mutex);
    return m_seen;
}

void PressButton(HWND dlg, int id) {
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
}

void ClickCheckBox(HWND dlg, int id) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, id), BM_CLICK, 0, 0, SMTO_NORMAL, 2000, &ignored);
}

bool IsChecked(HWND dlg, int id) {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(GetDlgItem(dlg, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, 2000, &state);
    return state == BST_CHECKED;
}

void PressEscape(HWND dlg) {
    PostKey(dlg, VK_ESCAPE);
}
void PressEnter(HWND dlg) {
    PostKey(dlg, VK_RETURN);
}

}  // namespace mirelo::test

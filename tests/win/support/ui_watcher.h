// Test helper: watches this process's dialogs and message boxes from a thread
// of its own, so a test can answer UI that the code under test shows and blocks on.
//
//   UiWatcher watcher([](const SeenWindow& w) { PressButton(w.hwnd, IDYES); });
//   ... call the code that shows a box ...
//   ASSERT_TRUE(watcher.WaitForCount(1, 5000));
//
// Every visible top-level window of class "#32770" owned by this process is
// reported once, when first seen, to the handler, which runs on the watcher
// thread and may send or post to the window. The destructor stops the thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace mirelo::test {

struct SeenWindow {
    HWND hwnd = nullptr;
    std::wstring caption;
    std::wstring text;  // a message box's text (static control 0xFFFF), else empty
    DWORD style = 0;
    DWORD exStyle = 0;
};

class UiWatcher {
  public:
    using Handler = std::function<void(const SeenWindow&)>;

    explicit UiWatcher(Handler handler, DWORD pollMs = 15);
    ~UiWatcher();
    UiWatcher(const UiWatcher&) = delete;
    UiWatcher& operator=(const UiWatcher&) = delete;

    // Waits until at least `count` windows have been seen and handled.
    bool WaitForCount(size_t count, DWORD timeoutMs);
    std::vector<SeenWindow> Seen() const;

  private:
    void Run();

    Handler m_handler;
    DWORD m_pollMs;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<SeenWindow> m_seen;
    size_t m_handled = 0;  // of m_seen, those the handler has run for
    std::unordered_set<HWND> m_present;
    std::thread m_thread;
};

// Answers a window as a user would: posted, so the handler never waits on the
// window's own thread.
void PressButton(HWND dlg, int id);
// Toggles a check box through BM_CLICK; waits (up to 2 s) until it is handled.
void ClickCheckBox(HWND dlg, int id);
bool IsChecked(HWND dlg, int id);
// Escape as the keyboard delivers it: to the focused control, for the dialog
// manager to turn into IDCANCEL.
void PressEscape(HWND dlg);
void PressEnter(HWND dlg);

}  // namespace mirelo::test

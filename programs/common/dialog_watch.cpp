#include "dialog_watch.h"

#include <windows.h>

namespace host {
namespace {

// The class every dialog box, message boxes and the folder browser included, is made from.
constexpr wchar_t kDialogClass[] = L"#32770";

BOOL CALLBACK MatchDialog(HWND window, LPARAM found) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[16] = {};
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) ||
        GetClassNameW(window, cls, 16) == 0 || std::wstring(cls) != kDialogClass)
        return TRUE;
    wchar_t title[256] = {};
    const int n = GetWindowTextW(window, title, 256);
    *reinterpret_cast<std::wstring*>(found) = n > 0 ? std::wstring(title, n) : L"?";
    return FALSE;
}

}  // namespace

std::wstring VisibleDialogTitle() {
    std::wstring found;
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace host

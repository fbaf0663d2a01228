#include "dialog_watch.h"

#include <windows.h>

namespace programs {
namespace {

// The class every dialog box, message boxes and the folder browser included, is made from.
constexpr wchar_t kDialogClass[] = L"#32770";

struct Search {
    DWORD process;
    std::wstring title;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM search) {
    auto& s = *reinterpret_cast<Search*>(search);
    if (!IsVisibleDialogOf(window, s.process)) return TRUE;
    wchar_t title[256] = {};
    const int n = GetWindowTextW(window, title, 256);
    s.title = n > 0 ? std::wstring(title, n) : L"?";
    return FALSE;
}

}  // namespace

bool IsVisibleDialogOf(HWND window, unsigned long process) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[16] = {};
    return pid == process && IsWindowVisible(window) && GetClassNameW(window, cls, 16) != 0 &&
           std::wstring(cls) == kDialogClass;
}

std::wstring VisibleDialogTitle() {
    return VisibleDialogTitle(GetCurrentProcessId());
}

std::wstring VisibleDialogTitle(unsigned long process) {
    Search search{process, {}};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.title;
}

}  // namespace programs

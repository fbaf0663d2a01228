// Shows the options dialog on its own, for screenshots and for a look by hand.
// Usage: option_dialog_demo.exe [brackets 0|1] [spaces 0|1] [close after ms]
#include <windows.h>

#include <cstdlib>
#include <cstdio>
#include <thread>

#include "option_dialog.h"

int wmain(int argc, wchar_t** argv) {
    CMireloOptionDlg dlg(nullptr);
    dlg.m_bRemoveBrackets = argc > 1 ? _wtoi(argv[1]) : 1;
    dlg.m_bRemoveDupSpaces = argc > 2 ? _wtoi(argv[2]) : 0;
    const int closeAfterMs = argc > 3 ? _wtoi(argv[3]) : 0;
    if (closeAfterMs > 0) {
        std::thread([closeAfterMs] {
            Sleep(closeAfterMs);
            if (HWND h = FindWindowW(L"#32770", L"Mirelo Option")) PostMessageW(h, WM_CLOSE, 0, 0);
        }).detach();
    }
    const INT_PTR result = dlg.DoModal();
    std::printf("result %d brackets %d spaces %d\n", static_cast<int>(result),
                static_cast<int>(dlg.m_bRemoveBrackets), static_cast<int>(dlg.m_bRemoveDupSpaces));
    return 0;
}

// Which window of its own a plug-in is waiting on: while it starts, a plug-in may show a
// question box or a folder browser from a thread of its own, which a console program's user
// does not see come up (it may open behind the console).
#pragma once

#include <windows.h>

#include <string>

namespace programs {

// Whether `window` is a visible dialog box (message box, folder browser) of the process with
// this id.
bool IsVisibleDialogOf(HWND window, unsigned long process);

// The title of a visible dialog box (message box, folder browser) of this process, or empty
// when there is none.
std::wstring VisibleDialogTitle();
// The same for the process with this id.
std::wstring VisibleDialogTitle(unsigned long process);

}  // namespace programs

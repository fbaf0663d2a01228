#pragma once
// Where a module's file lies, for the things that sit beside it (the plug-in beside its host
// program, the user dictionary beside the plug-in, the server and the ini beside the extension).

#include <windows.h>

#include <string>

namespace mirelo {

// The full path of `module`'s file (nullptr: this process's program), however long; empty when
// the system cannot say.
std::wstring ModulePath(HMODULE module);

// The folder of `module`'s file, without a trailing separator; "." when it cannot be had.
std::wstring ModuleFolder(HMODULE module);

}  // namespace mirelo

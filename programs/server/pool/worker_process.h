// A worker process of mirelo-server: a child process that hosts the plug-in as a host
// application does and translates the lines its parent sends, one at a time.
#pragma once

#include <windows.h>

#include <string>

namespace server {

// Loads and starts the plug-in, says so (or why not) on `toParent`, then answers each line
// read from `fromParent` until that pipe ends; closes the plug-in before it returns. The
// plug-in's error boxes are closed, and when `unattended` its questions answered No, while it
// starts. `game` (folded; empty: none) is handed to the plug-in through its environment, so
// that it applies that game's own dictionary entries too. Returns the process's exit code.
int RunWorkerProcess(HANDLE fromParent, HANDLE toParent, const std::wstring& plugin,
                     const std::string& options, bool unattended, const std::string& game = {});

}  // namespace server

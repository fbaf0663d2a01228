// Makes worker processes: this program run with --worker, its two pipe ends, in a job that
// ends every worker with the server however the server ends. Used on the pool's thread only,
// never under a lock: creating a process takes a while under load.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "handles.h"

namespace server {

struct WorkerProcess {
    mirelo::UniqueHandle process;
    unsigned long pid = 0;
    mirelo::UniqueFile toWorker;    // overlapped, for the pool's loop
    mirelo::UniqueFile fromWorker;  // overlapped
};

class Launcher {
  public:
    Launcher(std::wstring program, std::wstring plugin, std::string options);

    // `unattended`: the plug-in may not ask the user anything (only the first start may).
    // `game` (folded; empty: none): whose own dictionary entries the worker's plug-in applies.
    // nullopt with the system's error code in GetLastError and, in `why`, the step that failed
    // with the system's reason. A child whose inherited handles cannot be limited to its two
    // pipe ends is not started.
    std::optional<WorkerProcess> Launch(bool unattended, const std::string& game = {},
                                        std::string* why = nullptr);

  private:
    std::wstring CommandLine(HANDLE childIn, HANDLE childOut, bool unattended,
                             const std::string& game) const;

    const std::wstring m_program;
    const std::wstring m_plugin;
    const std::string m_options;
    // The pool holds the only handle: the workers end once it closes.
    mirelo::UniqueHandle m_job;
    unsigned m_pipes = 0;
};

}  // namespace server

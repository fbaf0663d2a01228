#pragma once
// The mirelo-server process this extension started, if any: where its program is, its start
// (hidden, suspended, put in a job that ends it with Textractor, then resumed), whether it
// still runs, and its end. Finding a server and asking it are ServerLink's. Not locked of its
// own: ServerLink holds it under its lock, and creates the process (which takes a while)
// outside it, on the background check's thread.

#include "handles.h"

#include <windows.h>

#include <string>

namespace textractor {

class OwnServer {
  public:
    // The folder of mirelo-server.exe: `named` (from the ini), a relative one taken from the
    // extension's own folder rather than Textractor's working one; none: the extension's own.
    static std::wstring Folder(HMODULE module, const std::wstring& named);
    // Creates `exe` hidden, without a console window and suspended; false with the system's
    // error code. No lock needed.
    static bool Create(const std::wstring& exe, const std::wstring& folder, std::wstring command,
                       mirelo::UniqueHandle& process, mirelo::UniqueHandle& thread, DWORD& error);
    // Takes a process Create made: into the job, then resumed. False, with the system's error
    // code, when it cannot run: it is ended.
    bool Adopt(mirelo::UniqueHandle process, HANDLE thread, DWORD& error);

    bool Has() const { return static_cast<bool>(server_); }
    bool Running() const;
    // Its exit code; STILL_ACTIVE while it runs, or when there is none.
    DWORD ExitCode() const;
    // Starts made so far, so that each start's readiness can be said once.
    unsigned Starts() const { return starts_; }
    // Lets the caller end it outside the lock.
    mirelo::UniqueHandle Take() { return std::move(server_); }
    // At unload: ending the job ends the server, and its workers with it.
    void Close();
    // At process exit: every handle left unclosed (the system closes them, and the job).
    void Abandon();

  private:
    mirelo::UniqueHandle job_;
    mirelo::UniqueHandle server_;
    unsigned starts_ = 0;
    bool inJob_ = false;
};

}  // namespace textractor

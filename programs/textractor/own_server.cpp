// The server this extension started: see own_server.h.
#include "own_server.h"

#include "job_object.h"
#include "module_path.h"

namespace textractor {

std::wstring OwnServer::Folder(HMODULE module, const std::wstring& named) {
    const bool absolute = (named.size() >= 2 && named[1] == L':') ||
                          (!named.empty() && (named[0] == L'\\' || named[0] == L'/'));
    return named.empty() ? mirelo::ModuleFolder(module)
           : absolute    ? named
                         : mirelo::ModuleFolder(module) + L"\\" + named;
}

bool OwnServer::Create(const std::wstring& exe, const std::wstring& folder, std::wstring command,
                       mirelo::UniqueHandle& process, mirelo::UniqueHandle& thread, DWORD& error) {
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    // Hidden and without a console window; the plug-in's own boxes still show.
    if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, folder.c_str(), &si, &pi)) {
        error = ::GetLastError();
        return false;
    }
    process.reset(pi.hProcess);
    thread.reset(pi.hThread);
    return true;
}

bool OwnServer::Adopt(mirelo::UniqueHandle process, HANDLE thread, DWORD& error) {
    // The server ends with Textractor however Textractor ends: its job's last handle is ours.
    if (!job_) job_ = mirelo::MakeKillOnCloseJob();
    inJob_ = job_ && ::AssignProcessToJobObject(job_.get(), process.get());
    // A server left suspended would never answer: it is ended, and the start said to fail.
    if (::ResumeThread(thread) == static_cast<DWORD>(-1)) {
        error = ::GetLastError();
        ::TerminateProcess(process.get(), 1);
        return false;
    }
    server_ = std::move(process);
    ++starts_;
    return true;
}

bool OwnServer::Running() const {
    return server_ && ::WaitForSingleObject(server_.get(), 0) == WAIT_TIMEOUT;
}

DWORD OwnServer::ExitCode() const {
    DWORD code = STILL_ACTIVE;
    if (server_) ::GetExitCodeProcess(server_.get(), &code);
    return code;
}

void OwnServer::Close() {
    if (server_ && !inJob_) ::TerminateProcess(server_.get(), 0);
    job_.reset();
    server_.reset();
}

void OwnServer::Abandon() {
    (void)job_.release();
    (void)server_.release();
}

}  // namespace textractor

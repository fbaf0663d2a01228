#include "launcher.h"

#include <vector>

#include "code_pages.h"
#include "job_object.h"
#include "messages.h"

namespace server {
namespace {

constexpr DWORD kPipeBuffer = 64 << 10;

// One argument as CommandLineToArgvW reads it back.
std::wstring Quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
        } else {
            if (c == L'"') out.append(slashes + 1, L'\\');
            slashes = 0;
        }
        out.push_back(c);
    }
    out.append(slashes, L'\\');
    return out + L"\"";
}

// The server's two overlapped ends in `out`, and the two ends the child inherits.
bool MakePipes(const std::wstring& base, WorkerProcess& out, mirelo::UniqueFile& childIn,
               mirelo::UniqueFile& childOut) {
    auto serverEnd = [](const std::wstring& name, DWORD access) {
        return mirelo::UniqueFile(CreateNamedPipeW(
            name.c_str(), access | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_WAIT, 1, kPipeBuffer, kPipeBuffer, 0, nullptr));
    };
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto childEnd = [&inherit](const std::wstring& name, DWORD access) {
        return mirelo::UniqueFile(
            CreateFileW(name.c_str(), access, 0, &inherit, OPEN_EXISTING, 0, nullptr));
    };
    out.toWorker = serverEnd(base + L"-in", PIPE_ACCESS_OUTBOUND);
    out.fromWorker = serverEnd(base + L"-out", PIPE_ACCESS_INBOUND);
    if (!out.toWorker || !out.fromWorker) return false;
    childIn = childEnd(base + L"-in", GENERIC_READ);
    childOut = childEnd(base + L"-out", GENERIC_WRITE);
    return childIn && childOut;
}

}  // namespace

Launcher::Launcher(std::wstring program, std::wstring plugin, std::string options)
    : m_program(std::move(program)),
      m_plugin(std::move(plugin)),
      m_options(std::move(options)),
      m_job(mirelo::MakeKillOnCloseJob()) {}

std::wstring Launcher::CommandLine(HANDLE childIn, HANDLE childOut, bool unattended,
                                   const std::string& game) const {
    std::wstring cmd =
        Quote(m_program) + L" --worker " + std::to_wstring(reinterpret_cast<UINT_PTR>(childIn)) +
        L" " + std::to_wstring(reinterpret_cast<UINT_PTR>(childOut)) +
        (unattended ? L" --unattended" : L"") + L" --lang " +
        (programs::CurrentLanguage() == programs::Language::kKorean ? L"ko" : L"en") +
        L" --plugin " + Quote(m_plugin);
    if (!m_options.empty()) cmd += L" --options " + Quote(mirelo::Utf8ToWide(m_options));
    if (!game.empty()) cmd += L" --game " + Quote(mirelo::Utf8ToWide(game));
    return cmd;
}

std::optional<WorkerProcess> Launcher::Launch(bool unattended, const std::string& game,
                                              std::string* why) {
    // The step that failed and the system's reason, in the player's language.
    const auto refuse = [why](const char* step, DWORD code) -> std::optional<WorkerProcess> {
        if (why)
            *why = programs::Format(programs::Msg::kWorkerLaunchStep,
                                    {step, programs::SystemMessage(code), std::to_string(code)});
        SetLastError(code);
        return std::nullopt;
    };
    const std::wstring base = L"\\\\.\\pipe\\mirelo-server-" +
                              std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++m_pipes);
    WorkerProcess out;
    mirelo::UniqueFile childIn, childOut;
    if (!MakePipes(base, out, childIn, childOut)) return refuse("CreateNamedPipe", GetLastError());
    if (!m_job) return refuse("CreateJobObject", ERROR_INVALID_HANDLE);

    // The child inherits its two pipe ends and nothing else, sockets included; a child that
    // would inherit every inheritable handle of the server is not started.
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
        return refuse("InitializeProcThreadAttributeList", GetLastError());
    HANDLE handles[2] = {childIn.get(), childOut.get()};
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                   sizeof handles, nullptr, nullptr)) {
        const DWORD code = GetLastError();
        DeleteProcThreadAttributeList(list);
        return refuse("UpdateProcThreadAttribute", code);
    }
    STARTUPINFOEXW si = {};
    si.StartupInfo.cb = sizeof si;
    si.lpAttributeList = list;
    std::wstring cmd = CommandLine(childIn.get(), childOut.get(), unattended, game);
    PROCESS_INFORMATION pi = {};
    const BOOL created = CreateProcessW(m_program.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                        nullptr, &si.StartupInfo, &pi);
    const DWORD createCode = GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!created) return refuse("CreateProcess", createCode);
    out.process.reset(pi.hProcess);
    const mirelo::UniqueHandle thread(pi.hThread);
    // Resumed only once in the job, so that it can never outlive the server. A suspended
    // child that cannot be ended is still in the job, which ends it with the server.
    const auto abandon = [&](const char* step, DWORD code) {
        TerminateProcess(out.process.get(), 1);
        return refuse(step, code);
    };
    if (!AssignProcessToJobObject(m_job.get(), out.process.get()))
        return abandon("AssignProcessToJobObject", GetLastError());
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1))
        return abandon("ResumeThread", GetLastError());
    out.pid = pi.dwProcessId;
    return out;
}

}  // namespace server

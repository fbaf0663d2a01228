#include "test_support.h"

namespace tooltest {

using namespace mirelo::test;

std::string Narrow(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

namespace {

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out.push_back(c);
    }
    out.append(slashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

// Inheritable, and deletable while a process that inherited it still holds it open.
HANDLE OpenForChild(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &sa, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// Files, not pipes: Wine starts helper processes (the desktop, when the child makes its first
// window) that inherit the child's standard handles and outlive it, so a pipe would never end.
ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const std::string& input, DWORD timeoutMs) {
    ProcessResult r;
    TempDir dir;
    if (!WriteBytes(dir / L"in", input)) return r;
    HANDLE in = OpenForChild(dir / L"in", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = OpenForChild(dir / L"out", GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = OpenForChild(dir / L"err", GENERIC_WRITE, CREATE_ALWAYS);

    std::wstring cmd = Quote(exe);
    for (const auto& a : args) cmd += L" " + Quote(a);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    BOOL started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE &&
                   err != INVALID_HANDLE_VALUE &&
                   CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &si, &pi);
    for (HANDLE h : {in, out, err})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!started) return r;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &r.exitCode);
    else
        TerminateProcess(pi.hProcess, 0xFFFFFFFF);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    r.out = ReadBytes(dir / L"out");
    r.err = ReadBytes(dir / L"err");
    return r;
}

}  // namespace tooltest

// Small RAII helpers shared by the tool tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tooltest {

// Folder holding the test program, where the build puts every DLL and program.
std::wstring BinDir();

// A fresh folder under the temp folder, deleted with its contents on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

  private:
    std::wstring m_path;
};

bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
std::vector<std::string> ReadLines(const std::wstring& path);  // split on '\n'
std::string Narrow(const std::wstring& s);                     // to the ANSI code page

// Owns a module from LoadLibraryW.
class Module {
  public:
    explicit Module(const std::wstring& path) : m_h(LoadLibraryW(path.c_str())) {}
    ~Module() {
        if (m_h) FreeLibrary(m_h);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    HMODULE get() const { return m_h; }
    template <class F>
    F proc(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_h, name)));
    }

  private:
    HMODULE m_h;
};

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;  // stays so when the program could not start or hung
    std::string out;
    std::string err;
};

// Runs a program with the given arguments, feeding it `input` on standard input.
ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const std::string& input, DWORD timeoutMs = 60000);

}  // namespace tooltest

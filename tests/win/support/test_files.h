// Files and folders for the Windows tests: where the build put the programs,
// throw-away folders, whole-file reads and writes, and a module owner.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "handles.h"

namespace mirelo::test {

// Folder of the running test program, where the build puts every DLL and program too.
std::wstring BinDir();

// A fresh folder under the temp folder, removed with its contents at the end.
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
std::string ReadBytes(const std::wstring& path);               // empty when the file cannot be read
std::vector<std::string> SplitLines(const std::string& text);  // on '\n', nothing else dropped
std::vector<std::string> ReadLines(const std::wstring& path);

// Upper-case hex digits, or "-" for nothing, as the stand-in engine logs bytes.
std::string Hex(std::string_view bytes);

// A module from LoadLibraryW, with typed look-ups of its exports.
class Module {
  public:
    explicit Module(const std::wstring& path) : m_h(LoadLibraryW(path.c_str())) {}
    HMODULE get() const { return m_h.get(); }
    template <class F>
    F proc(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m_h.get(), name)));
    }
    void Free() { m_h.reset(); }

  private:
    UniqueModule m_h;
};

}  // namespace mirelo::test

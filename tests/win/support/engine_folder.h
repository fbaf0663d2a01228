// A throw-away install folder holding the stand-in engine and its behaviour script.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "test_files.h"

namespace mirelo::test {

inline constexpr wchar_t kEngineDll[] = L"J2KEngine.dll";

// <temp>\<unique><below>\ holding J2KEngine.dll (a copy of `engineFile` from BinDir(),
// or none when it is null), Dat\ and Dat\standin.txt with `script` (none when it is
// empty). <temp>\<unique> goes again at the end.
class EngineFolder {
  public:
    explicit EngineFolder(const std::string& script = "", const wchar_t* engineFile = kEngineDll,
                          const std::wstring& below = L"");

    const std::wstring& Root() const { return m_root; }
    std::wstring DataDir() const { return m_root + L"\\Dat"; }
    // The stand-in's call log (script line "log calls.log"), one entry per line.
    std::vector<std::string> Log() const;
    // Log lines that start with `prefix`.
    std::vector<std::string> LogLines(std::string_view prefix) const;
    // What LoadLibraryW must receive for the install folder `folder`.
    static std::wstring LibraryPathFor(const std::wstring& folder);

  private:
    TempDir m_top;
    std::wstring m_root;
};

}  // namespace mirelo::test

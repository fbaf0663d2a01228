// The install-path registry key as a test wants it, put back afterwards.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace mirelo::test {

// HKCU\Software\Kestrow\Mirelo and its FilePath value; the key, its parent and the
// value are put back (or removed) as they were when this goes.
class InstallKey {
  public:
    InstallKey();
    // The common case: FilePath holds `folder` while this lives.
    explicit InstallKey(const std::wstring& folder);
    ~InstallKey();
    InstallKey(const InstallKey&) = delete;
    InstallKey& operator=(const InstallKey&) = delete;

    bool SetPath(const std::wstring& folder);  // REG_SZ with its terminator
    bool SetRaw(DWORD type, const void* data, DWORD bytes);
    void DeleteValue();
    void DeleteKey();

  private:
    bool m_hadParent = false;
    bool m_hadKey = false;
    bool m_hadValue = false;
    DWORD m_type = 0;
    std::vector<BYTE> m_data;
};

}  // namespace mirelo::test

// Test helper: redirects one module's import of one DLL function, e.g.
// Mirelo.dll's user32!MessageBoxW, to a test function, and puts the original
// back in its destructor. Other modules, the test program included, keep the
// real function, which the replacement can still call through Original().
//
//   static IatHook* hook;
//   int WINAPI FakeBox(HWND h, LPCWSTR t, LPCWSTR c, UINT f) {
//       flags.push_back(f);
//       return hook->Original<decltype(&MessageBoxW)>()(h, t, c, f);
//   }
//   IatHook h(mirelo, "user32.dll", "MessageBoxW", &FakeBox);  // h.Installed()
//
// Only imports by name are matched; DLL and function names are compared
// without regard to case for the DLL and exactly for the function.
#pragma once

#include <windows.h>

namespace mirelo::test {

class IatHook {
  public:
    IatHook(HMODULE module, const char* dllName, const char* functionName, const void* replacement);
    ~IatHook();
    IatHook(const IatHook&) = delete;
    IatHook& operator=(const IatHook&) = delete;

    bool Installed() const { return m_slot != nullptr; }

    template <typename Fn>
    Fn Original() const {
        return reinterpret_cast<Fn>(m_original);
    }

  private:
    void** m_slot = nullptr;
    void* m_original = nullptr;
};

}  // namespace mirelo::test

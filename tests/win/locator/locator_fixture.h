// Fixtures for the engine-locator tests: the real Mirelo.dll loaded as a host
// loads it, with its imports of the calls the locator makes hooked so a test sees
// every box's flags, every registry read, every folder-browser call and every
// library load; the install-path registry key, put back as it was afterwards;
// throw-away engine folders holding the stand-in engine.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "iat_hook.h"
#include "ui_watcher.h"

namespace mirelo::test {

std::wstring BinDir();

// HKCU\Software\Kestrow\Mirelo as a test wants it; the key and its parent are put
// back (or removed) as they were when this goes.
class InstallKey {
  public:
    InstallKey();
    ~InstallKey();
    InstallKey(const InstallKey&) = delete;
    InstallKey& operator=(const InstallKey&) = delete;

    void SetPath(const std::wstring& folder);  // REG_SZ with its terminator
    void SetRaw(DWORD type, const void* data, DWORD bytes);
    void DeleteValue();
    void DeleteKey();

  private:
    bool m_hadParent = false;
    bool m_hadKey = false;
    bool m_hadValue = false;
    DWORD m_type = 0;
    std::vector<BYTE> m_data;
};

// <temp>\mirelo-locator-<pid>-<n><suffix>\ holding J2KEngine.dll and Dat\.
class EngineFolder {
  public:
    explicit EngineFolder(const std::wstring& suffix = L"", bool withEngine = true);
    ~EngineFolder();
    EngineFolder(const EngineFolder&) = delete;
    EngineFolder& operator=(const EngineFolder&) = delete;
    const std::wstring& Root() const { return m_root; }
    // What LoadLibraryW must receive for the install folder `folder`.
    static std::wstring LibraryPathFor(const std::wstring& folder);

  private:
    std::wstring m_top;
    std::wstring m_root;
};

struct BoxCall {
    HWND owner;
    std::wstring text, caption;
    UINT flags;
};

struct BrowseCall {
    HWND owner;
    bool rootIsDesktop;
    bool displayBufferZeroed;
    std::wstring title;
    UINT flags;
    bool hasCallback;
    void* result;
};

// What the hooked imports saw, shared with the hook functions.
struct CallLog {
    std::mutex mutex;
    std::vector<BoxCall> boxes;
    std::vector<BrowseCall> browses;
    std::vector<std::wstring> loads;
    std::vector<void*> freed;
    int registryReads = 0;
    bool browserGivesItemWithoutPath = false;
};

// Mirelo.dll loaded from BinDir() with its hooks in place; closes and unloads
// itself at the end.
class HookedPlugin {
  public:
    HookedPlugin();
    ~HookedPlugin();
    HookedPlugin(const HookedPlugin&) = delete;
    HookedPlugin& operator=(const HookedPlugin&) = delete;

    bool Ready() const;
    // On a host window; the option buffer gets `options` and its terminator, and
    // '#' in every byte after them.
    int Init(const char* options = "");
    // Again, with the option buffer exactly as the last run left it.
    int Reinit();
    int Option();
    int Close();
    void DestroyHostWindow();
    char* OptionBuffer() { return m_options; }
    CallLog& Log();
    std::vector<BoxCall> Boxes();

  private:
    HMODULE m_module = nullptr;
    HWND m_host = nullptr;
    char m_options[16] = {};
    bool m_open = false;
    int(WINAPI* m_init)(HWND, char*) = nullptr;
    int(WINAPI* m_option)() = nullptr;
    int(WINAPI* m_close)() = nullptr;
    std::vector<std::unique_ptr<IatHook>> m_hooks;
};

// How the test's "user" answers, in order of appearance.
struct UserScript {
    std::vector<int> questionAnswers;  // IDYES / IDNO
    int warningAnswer = IDYES;
    std::vector<std::wstring> browserChoices;  // a folder, or empty for Cancel
};

// A watcher that answers the locator's boxes and the browser from `script`,
// presses OK on error boxes, and cancels anything else.
std::unique_ptr<UiWatcher> AnswerWith(const UserScript& script);

}  // namespace mirelo::test

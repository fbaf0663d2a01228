// Fixtures for the engine-locator tests: the real Mirelo.dll loaded as a host
// loads it, with its imports of the calls the locator makes hooked so a test sees
// every box's flags, every registry read, every folder-browser call and every
// library load; and a watcher that answers the locator's windows as a user would.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine_folder.h"
#include "iat_hook.h"
#include "install_key.h"
#include "test_files.h"
#include "ui_watcher.h"

namespace mirelo::test {

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
    Module m_module;
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

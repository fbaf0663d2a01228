// Fixtures for driving the real Mirelo.dll against the stand-in engine under Wine:
// a throw-away engine folder with its behaviour script, the registry value that
// points the plug-in at it, and the plug-in loaded the way a host loads it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace mirelo::test {

// Folder of the running test program, where the build puts every DLL too.
std::wstring BinDir();

std::string Hex(std::string_view bytes);

// <temp>\<unique>\J2KEngine.dll (a copy of `engineFile` from BinDir(), or none) and
// <temp>\<unique>\Dat\standin.txt holding `script`. Removed again at the end.
class EngineFolder {
  public:
    explicit EngineFolder(const std::string& script, const wchar_t* engineFile = L"J2KEngine.dll");
    ~EngineFolder();
    EngineFolder(const EngineFolder&) = delete;
    EngineFolder& operator=(const EngineFolder&) = delete;

    const std::wstring& Root() const { return root_; }
    std::wstring DataPath() const { return root_ + L"\\Dat"; }
    // The stand-in's call log (script line "log calls.log"), one entry per line.
    std::vector<std::string> Log() const;
    // Log lines that start with `prefix`.
    std::vector<std::string> LogLines(std::string_view prefix) const;

  private:
    std::wstring root_;
};

// HKCU\Software\Kestrow\Mirelo "FilePath" holds `value` while this lives; what was
// there before is put back afterwards.
class InstallPathValue {
  public:
    explicit InstallPathValue(const std::wstring& value);
    ~InstallPathValue();
    InstallPathValue(const InstallPathValue&) = delete;
    InstallPathValue& operator=(const InstallPathValue&) = delete;

  private:
    bool hadValue_ = false;
    std::vector<BYTE> previous_;
    DWORD previousType_ = 0;
};

// A hidden top-level window to stand for the host's main window.
class HostWindow {
  public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND get() const { return hwnd_; }
    void Destroy();

  private:
    HWND hwnd_ = nullptr;
};

// Mirelo.dll from BinDir(), with its four exports resolved.
class Plugin {
  public:
    using InitFn = int(WINAPI*)(HWND, char*);
    using NoArgFn = int(WINAPI*)();
    using TranslateFn = int(WINAPI*)(const char*, char*, int);

    Plugin();
    ~Plugin();  // unloads unless Unload() ran already
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    HMODULE module() const { return module_; }
    bool Loaded() const { return module_ != nullptr && init && option && close && translate; }
    void Unload();

    // Translates `source` into a 4096-byte buffer; returns the export's result.
    int TranslateText(const std::string& source, std::string& result);

    InitFn init = nullptr;
    NoArgFn option = nullptr;
    NoArgFn close = nullptr;
    TranslateFn translate = nullptr;

  private:
    HMODULE module_ = nullptr;
};

// The common case: a scripted engine in its folder, the registry pointing at it and
// the plug-in started with `options` on a host window.
struct RunningPlugin {
    explicit RunningPlugin(const std::string& script, const char* options = "");
    ~RunningPlugin();

    EngineFolder engine;
    InstallPathValue path;
    HostWindow host;
    char optionBuffer[16] = {};
    Plugin plugin;
    int initResult = 0;
    bool closed = false;

    int Close();
};

// "mode scripted" and a call log, followed by `rules`.
std::string Scripted(const std::string& rules = "");

}  // namespace mirelo::test

// Fixtures for driving the real Mirelo.dll against the stand-in engine under Wine:
// the plug-in loaded the way a host loads it, on a host window of its own, with an
// engine folder and the registry value pointing at it from the shared helpers.
#pragma once

#include <windows.h>

#include <string>

#include "engine_folder.h"
#include "install_key.h"
#include "plugin_host.h"
#include "test_files.h"

namespace mirelo::test {

// The host's main window, as the programs make it.
using HostWindow = programs::HostWindow;

// Mirelo.dll from BinDir() (or another path), with its four exports resolved.
class Plugin {
  public:
    using InitFn = int(WINAPI*)(HWND, char*);
    using NoArgFn = int(WINAPI*)();
    using TranslateFn = int(WINAPI*)(const char*, char*, int);

    Plugin();
    explicit Plugin(const std::wstring& path);
    ~Plugin();  // unloads unless Unload() ran already
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    HMODULE module() const { return module_.get(); }
    bool Loaded() const { return module_.get() != nullptr && init && option && close && translate; }
    void Unload();

    // Translates `source` into a 4096-byte buffer; returns the export's result.
    int TranslateText(const std::string& source, std::string& result);

    InitFn init = nullptr;
    NoArgFn option = nullptr;
    NoArgFn close = nullptr;
    TranslateFn translate = nullptr;

  private:
    Module module_;
};

// The common case: a scripted engine in its folder, the registry pointing at it and
// the plug-in started with `options` on a host window.
struct RunningPlugin {
    explicit RunningPlugin(const std::string& script, const char* options = "");
    ~RunningPlugin();

    EngineFolder engine;
    InstallKey path;
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

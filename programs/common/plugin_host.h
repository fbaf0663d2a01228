// Loads a plug-in and drives its four exports the way a host application does; shared by
// mirelo-host and mirelo-server.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "handles.h"

namespace programs {

// `given` as a full path (a bare name would otherwise be looked for along the DLL search path,
// not where the user is), or Mirelo.dll beside the program when it is empty.
std::wstring PluginPath(const std::wstring& given);

enum class LoadResult { kLoaded, kNoLibrary, kMissingExport };

class PluginHost {
  public:
    using InitFn = int(__stdcall*)(HWND, char*);
    using OptionFn = int(__stdcall*)();
    using CloseFn = int(__stdcall*)();
    using TranslateFn = int(__stdcall*)(const char*, char*, int);

    PluginHost() = default;
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Anything but kLoaded comes with a one-line message.
    LoadResult Load(const std::wstring& path, std::string& message);

    // After this, even when it fails, the plug-in's worker thread may run: Close must
    // follow.
    int Init(HWND wnd, char* options) {
        m_open = true;
        return m_init(wnd, options);
    }
    int Option() { return m_option(); }
    int Translate(const char* src, char* dst, int size) { return m_translate(src, dst, size); }
    // Closes once; the module is released only after the plug-in has been closed.
    void Close();

  private:
    // Declared first, so that it is released last.
    mirelo::UniqueModule m_module;
    bool m_open = false;
    InitFn m_init = nullptr;
    OptionFn m_option = nullptr;
    CloseFn m_close = nullptr;
    TranslateFn m_translate = nullptr;
};

// Translate's destination is filled with this byte before each call. No CP949 text holds it,
// so a destination that holds nothing else after Translate returned 1 was left untouched:
// what the plug-in does, as designed, when the engine gave no translation for the line.
constexpr char kUntouchedByte = '\xFF';

// What Translate, having returned 1, left in a destination marked with MarkUntouched.
enum class Answer { kText, kUntouched, kNoTerminator };

inline void MarkUntouched(char* dest, std::size_t size) {
    std::memset(dest, kUntouchedByte, size);
}

// `length`: the text's bytes before its terminator (kText), or `size`.
Answer ReadAnswer(const char* dest, std::size_t size, std::size_t& length);

// A hidden top-level window of its own class, or a message-only window if that fails.
class HostWindow {
  public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND get() const { return m_wnd; }
    // A host whose window has gone, as when it closes before the plug-in does.
    void Destroy();
    // Handles whatever arrived for the window, so nobody sending to it waits on us.
    void Pump();

  private:
    HWND m_wnd = nullptr;
};

}  // namespace programs

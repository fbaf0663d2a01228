#pragma once
// The box that tells the player that the engine stopped on a line. It shows on a thread of
// its own, so that no Translate call waits for the player, and that thread holds a reference
// to this module until it ends, so that a host's FreeLibrary right after OnPluginClose never
// takes the code from under an open box.

#include <windows.h>

#include <atomic>
#include <string>

#include "handles.h"
#include "locks.h"

namespace mirelo {

inline constexpr wchar_t kHangNoticeTitle[] = L"Mirelo Plugin";
// {0}: the file name of the host program.
inline constexpr wchar_t kMsgEngineStopped[] =
    L"번역 엔진이 한 줄을 번역하다가 멈췄습니다.\r\n"
    L"Mirelo는 엔진 없이 계속 동작하지만, 지금부터 들어오는 줄은 번역되지 않습니다.\r\n\r\n"
    L"번역을 다시 하려면 이 프로그램({0})을 다시 시작하십시오.";

// The text of the box for a host program at `hostPath` (empty: unknown).
std::wstring EngineStoppedText(const std::wstring& hostPath);

class HangNotice {
  public:
    HangNotice() = default;
    HangNotice(const HangNotice&) = delete;
    HangNotice& operator=(const HangNotice&) = delete;

    // Shows the box, once until Close; returns at once. Safe from any thread.
    void Show();
    // Closes a box still open and waits up to `waitMs` for its thread to end; the next Show
    // shows again.
    void Close(DWORD waitMs);

  private:
    static DWORD WINAPI Run(void* param);

    ExclusiveLock m_lock;
    // Under m_lock.
    bool m_shown = false;
    UniqueHandle m_thread;
    DWORD m_threadId = 0;
    // Read by the box thread before it shows: a close that came first leaves nothing to show.
    std::atomic<bool> m_closing{false};
};

}  // namespace mirelo

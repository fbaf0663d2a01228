#pragma once
// The user's dictionary as the worker applies it: the MireloDict folder beside the DLL, with
// the subfolder of the game that the process's environment names (the server's workers).
// A thread of its own watches the folder and builds a changed dictionary once the folder
// has held still (see dict::FolderWatch); the worker keeps translating with the dictionary
// it has and only takes the new one, a pointer swap, between two lines.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "dictionary.h"
#include "dictionary_folder_win.h"
#include "handles.h"
#include "locks.h"

namespace mirelo {

class UserDictionary {
  public:
    // The folder beside `module` (and the game's, read at start), read at once if it holds
    // dictionary files; then the builder starts. Never throws except std::bad_alloc.
    explicit UserDictionary(HMODULE module);
    // Stops the builder, ending a build in progress early, and waits for it.
    ~UserDictionary();
    UserDictionary(const UserDictionary&) = delete;
    UserDictionary& operator=(const UserDictionary&) = delete;

    // True when the dictionary was just replaced (answers made with the old one are stale).
    bool Refresh() noexcept;

    // True when a `line` entry answers `source` whole: `answer` is then its translation
    // followed by the source's own line ending, valid until the next call.
    bool AnswerLine(std::string_view source, std::string_view& answer) noexcept;

    // The source with `pre-re` and `pre` replacements and names protected; the source itself
    // without a dictionary, null when memory ran out.
    const char* BeforeEngine(const char* source);
    // The finished translation with names, particles, `post` and `post-re` replacements; the text
    // itself without a dictionary, null when memory ran out.
    const char* AfterEngine(const char* translation);

    // Gives back what an outsized line made the buffers grow to.
    void Trim();

  private:
    static unsigned __stdcall BuilderMain(void* self);
    void BuildUntilStopped() noexcept;
    // One look at the folder, and a load when it is due. True with the dictionary to use
    // next (null: none) when one was loaded.
    bool LookAndLoad(uint64_t nowMs, std::unique_ptr<dict::Dictionary>& loaded) noexcept;
    // Without a builder thread the worker looks at the folder itself.
    bool RefreshHere() noexcept;
    bool Replace(std::unique_ptr<dict::Dictionary> next) noexcept;

    const char* Run(dict::Pass pass, dict::Kind kind, const char* text,
                    std::string& buffer) noexcept;
    struct Step {
        dict::Pass pass;
        dict::Kind kind;
    };
    // The passes in turn, null as soon as one is.
    const char* RunAll(std::initializer_list<Step> steps, const char* text) noexcept;

    dict::FolderWatch m_watch;  // the builder's once it runs
    uint64_t m_nextLook = 0;    // for RefreshHere

    // The worker's.
    std::unique_ptr<dict::Dictionary> m_dictionary;
    std::string m_passA;
    std::string m_passB;
    std::string m_lineAnswer;

    // Between the worker and the builder: under m_lock, except the two flags.
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_wake = CONDITION_VARIABLE_INIT;  // the builder waits on it
    bool m_stopping = false;
    std::atomic<bool> m_stop{false};   // read by the compiler of a dictionary in progress
    std::atomic<bool> m_ready{false};  // m_next holds a dictionary the worker has not taken
    std::unique_ptr<dict::Dictionary> m_next;
    std::unique_ptr<dict::Dictionary> m_retired;  // replaced, for the builder to free
    UniqueHandle m_builder;
};

}  // namespace mirelo

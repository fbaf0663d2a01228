#pragma once
// The user's dictionary as the worker applies it: the MireloDict folder beside the DLL,
// looked at no more than once a second and read again whole when it changed.

#include <windows.h>

#include <memory>
#include <string>

#include "dictionary.h"
#include "dictionary_folder_win.h"

namespace mirelo {

class UserDictionary {
  public:
    // The folder beside `module`; read at once if it holds dictionary files.
    explicit UserDictionary(HMODULE module);

    // True when the dictionary was just replaced (answers made with the old one are stale).
    bool Refresh();

    // The source with `pre` replacements and names protected; the source itself without a
    // dictionary, null when memory ran out.
    const char* BeforeEngine(const char* source);
    // The finished translation with names, particles and `post` replacements; the text
    // itself without a dictionary, null when memory ran out.
    const char* AfterEngine(const char* translation);

    // Gives back what an outsized line made the buffers grow to.
    void Trim();

  private:
    const char* Run(dict::Pass pass, dict::Kind kind, const char* text,
                    std::string& buffer) noexcept;

    dict::FolderWatch watch_;
    std::unique_ptr<dict::Dictionary> dictionary_;
    std::string a_;
    std::string b_;
};

}  // namespace mirelo

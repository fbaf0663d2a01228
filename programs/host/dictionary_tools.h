// mirelo-host's dictionary options: --check-dict reports a folder's problems, --trace tells
// which entries fired for each line, running the same matching as the plug-in.
#pragma once

#include <memory>
#include <string>

#include "dictionary_folder_win.h"
#include "dictionary_words.h"

namespace host {

// Prints every problem of `folder` (and of its `game` subfolder, read on top) as
// DescribeProblem words it on standard output, then the number of entries of each kind in use
// and, for a game, each entry with the file it came from ("game\file" for the game's own).
// Returns kExitOk only when there is no problem.
int CheckDictionary(const std::wstring& folder, const std::string& game = {});

class DictionaryTrace {
  public:
    // Reads `folder` once; its problems go to standard error.
    explicit DictionaryTrace(const std::wstring& folder, const std::string& game = {});

    // Writes to standard error the entries that fired for one line: the line entry that
    // answered `sjisSource` whole, or else pre and name entries as the plug-in applies them; post
    // entries whose TO is in `cp949Result` (the text they worked on never leaves the plug-in).
    void Line(unsigned long number, const std::string& sjisSource,
              const std::string& cp949Result) const;

  private:
    std::unique_ptr<mirelo::dict::Dictionary> m_dictionary;
};

}  // namespace host

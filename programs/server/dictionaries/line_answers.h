// The `line` entries of the dictionary folder, common and each game's, answered by the server
// itself: a correction is in use for every client the moment it is saved, without waiting for
// the workers' plug-ins to read it, and the history can tell a correction from the engine's
// answer. The plug-ins read the same files, so a line gets the same answer either way.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "dictionary.h"

namespace server {

class LineAnswers {
  public:
    // `folder`: the MireloDict the workers' plug-in reads. Nothing is read until Reload.
    explicit LineAnswers(std::wstring folder) : m_folder(std::move(folder)) {}

    // The UTF-8 answer that a `line` entry of the game's folder, or else of the common folder,
    // gives the Shift-JIS line (as the plug-in matches it); false when none does. Any thread;
    // never reads a file.
    bool Find(const std::string& game, const std::string& sjis, std::string& answer) const;

    // Reads the common folder and every game's folder again. Any thread; takes as long as the
    // plug-in's own reload.
    void ReloadAll();
    // Reads one folder again: "" the common one, else the game's (checked and folded).
    void Reload(const std::string& game);

  private:
    using Entries = std::shared_ptr<const mirelo::dict::Dictionary>;
    Entries Read(const std::string& game) const;

    std::wstring m_folder;
    mutable std::mutex m_mutex;
    Entries m_common;
    std::map<std::string, Entries> m_games;  // only games whose folder holds line entries
};

}  // namespace server

// The Windows half of the user dictionaries: the MireloDict folder beside a module, its
// *.txt files, a signature that changes when they do, the system's code pages as encoders,
// and one call that builds a Dictionary from the folder. Shows no user interface.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dictionary.h"

namespace mirelo::dict {

// A game's own entries live in a subfolder of the dictionary folder named after the game (as
// CheckGameName folds it). Its files are read after the common ones and named "<game>\\file",
// so that its entries win and every trace and problem says which folder an entry came from.
// An empty game is the common folder alone.

// The game a worker process of the server translates for, set before the plug-in starts. The
// classic host never sets it, so the plug-in there reads the common folder alone.
inline constexpr wchar_t kGameVariable[] = L"MIRELO_GAME";
// The game named by kGameVariable, folded as its folder; empty when unset or not a valid name.
std::wstring GameFromEnvironment();

// The folder `MireloDict` beside the module at `modulePath` (a DLL or a program).
std::wstring FolderBeside(const std::wstring& modulePath);
// The same for a loaded module; empty if its path cannot be had.
std::wstring FolderBesideModule(HMODULE module);

struct FolderFile {
    std::wstring path;
    std::string name;  // UTF-8, as problems and traces show it
    uint64_t size = 0;
    uint64_t lastWrite = 0;  // FILETIME ticks
};

// The folder's files whose name ends in ".txt" in any case, sorted by the bytes of their
// UTF-8 names, then the game's, sorted alike. Empty when there is no such folder.
std::vector<FolderFile> ListFolder(const std::wstring& folder, const std::wstring& game = {});

// The names of the folder's subfolders, each a game's own folder when its name is a game's:
// "." and ".." left out, in the order the system lists them. Empty when there is no folder.
std::vector<std::wstring> GameFolders(const std::wstring& folder);

// A hash of the names, sizes and last-write times of ListFolder's files: one directory
// listing per folder, no file opened. No folder and a folder without dictionary files both
// give 0.
uint64_t FolderSignature(const std::wstring& folder, const std::wstring& game = {});

// UTF-8 to code page 932 and 949 through the system: invalid UTF-8, and characters that
// have no form of their own there (no best-fit substitute, no default character), fail.
const TextEncoders& SystemEncoders();

// How long a changed folder must hold still, its files' names, sizes and write times alike,
// before it is read: an editor saves in several writes (cut the file, then write it), and a
// file read between them holds only part of its entries.
inline constexpr uint32_t kQuietMs = 400;
// How often a watch looks at a folder in which nothing is changing.
inline constexpr uint32_t kLookIntervalMs = 250;

struct FolderDictionary {
    // Null when the folder holds no dictionary file (the plug-in then behaves as without
    // one), memory ran out or the load was stopped; otherwise compiled from every readable
    // file, maybe empty. A load that failed whole says why in a problem whose file is the
    // folder (line 0).
    std::unique_ptr<Dictionary> dictionary;
    std::vector<Problem> problems;  // file-level (line 0) and line-level, in file order
    uint64_t signature = 0;         // FolderSignature of the listing the files were read by
    size_t files = 0;               // dictionary files found
    // False when a file changed while it was read, or (FolderWatch::Load) the folder was no
    // longer as the watch had seen it hold still: what was read may be part of a save.
    bool settled = true;
};

// Reads every dictionary file of `folder` (and of its `game` subfolder) and compiles them with
// `options`. A game's `line` entry that replaces a common one is not named as repeated: that
// is what the game's folder is for. Never throws.
FolderDictionary LoadFolder(const std::wstring& folder, const CompileOptions& options = {},
                            const std::wstring& game = {});

// Tells when to load a folder again: only once a change has held still for the quiet
// period, judged by two looks that far apart seeing the same signature. Times are
// GetTickCount64 values, handed in. Not thread-safe; never throws.
class FolderWatch {
  public:
    explicit FolderWatch(std::wstring folder, uint32_t quietMs = kQuietMs,
                         uint32_t intervalMs = kLookIntervalMs, std::wstring game = {})
        : folder_(std::move(folder)),
          game_(std::move(game)),
          quietMs_(quietMs),
          intervalMs_(intervalMs) {}

    const std::wstring& folder() const { return folder_; }
    const std::wstring& game() const { return game_; }

    // Looks at the folder once. True when nothing was loaded yet, or when the folder
    // differs from what the last Load read and has looked the same for `quietMs`.
    bool Due(uint64_t nowMs);

    // How long to wait before the next look is worth making.
    uint32_t WaitMs(uint64_t nowMs) const;

    // LoadFolder, remembering the signature it read. After a load that is not settled, the
    // next look counts as a change whatever it sees, so the folder is read again once it
    // has held still.
    FolderDictionary Load(const CompileOptions& options = {});

  private:
    std::wstring folder_;
    std::wstring game_;
    uint32_t quietMs_;
    uint32_t intervalMs_;
    bool loaded_ = false;
    uint64_t signature_ = 0;  // of the last load
    bool stale_ = false;      // the last load was not settled
    bool changing_ = false;   // a signature other than the last load's was seen
    uint64_t changedTo_ = 0;  // that signature
    uint64_t changedAt_ = 0;  // when it was first seen
};

}  // namespace mirelo::dict

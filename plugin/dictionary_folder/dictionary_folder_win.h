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
// UTF-8 names. Empty when there is no such folder.
std::vector<FolderFile> ListFolder(const std::wstring& folder);

// A hash of the names, sizes and last-write times of ListFolder's files: one directory
// listing, no file opened. No folder and a folder without dictionary files both give 0.
uint64_t FolderSignature(const std::wstring& folder);

// UTF-8 to code page 932 and 949 through the system: invalid UTF-8, and characters that
// have no form of their own there (no best-fit substitute, no default character), fail.
const TextEncoders& SystemEncoders();

struct FolderDictionary {
    // Null when the folder holds no dictionary file (the plug-in then behaves as without
    // one) or memory ran out; otherwise compiled from every readable file, maybe empty.
    std::unique_ptr<Dictionary> dictionary;
    std::vector<Problem> problems;  // file-level (line 0) and line-level, in file order
    uint64_t signature = 0;         // FolderSignature as it was before the files were read
    size_t files = 0;               // dictionary files found
};

// Reads every dictionary file of `folder` and compiles them. Never throws.
FolderDictionary LoadFolder(const std::wstring& folder);

// Tells a worker when to load its folder again: looks at the folder at most once per
// interval, and between looks costs one tick-count read. Not thread-safe; never throws.
class FolderWatch {
  public:
    explicit FolderWatch(std::wstring folder, uint32_t intervalMs = 1000)
        : m_folder(std::move(folder)), m_intervalMs(intervalMs) {}

    const std::wstring& folder() const { return m_folder; }

    // True when no load happened yet, or when a look is due and the folder's signature
    // differs from that of the last Load.
    bool Changed();

    // LoadFolder, remembering the signature it saw.
    FolderDictionary Load();

  private:
    std::wstring m_folder;
    uint32_t m_intervalMs;
    bool m_loaded = false;
    uint64_t m_signature = 0;
    uint64_t m_lastLook = 0;
};

}  // namespace mirelo::dict

// Corrections: `line` entries that a player makes (in the workbench, or by importing a shared
// file), kept in corrections.txt of the game's dictionary folder, where the plug-in of every
// worker (and of the classic host) reads them like any other dictionary file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "file_replace.h"

namespace server {

inline constexpr const wchar_t* kCorrectionsFileName = L"corrections.txt";

// Writes (or replaces) `line` entries in <dictionaryFolder>/<game>/corrections.txt, creating
// the game's folder; game "" = the common folder. Under the file's lock, the file as it is then
// is merged and replaced atomically; false with a reason on failure, and then nothing changed.
bool SaveCorrections(const std::filesystem::path& dictionaryFolder, const std::string& game,
                     const std::vector<std::pair<std::string, std::string>>& sourceToTranslation,
                     std::string* why);

// For each entry, why it cannot be a `line` entry, in the messages' language (as the
// dictionary's own checks word it); empty where it can.
std::vector<std::string> CorrectionProblems(
    const std::vector<std::pair<std::string, std::string>>& entries);

// The `line` entries of the game's corrections.txt in file order; none when it is absent.
std::vector<std::pair<std::string, std::string>> ReadCorrections(
    const std::filesystem::path& dictionaryFolder, const std::string& game);

// A player's file held for one save: every process that saves it takes the lock, reads the
// file under it, merges and writes, so that nothing another one saved meanwhile is lost.
struct LockedFile {
    mirelo::FileLock lock;
    explicit operator bool() const { return static_cast<bool>(lock); }
};
// Takes `file`'s lock (waiting a while for another saver), then reads it ("" when absent).
// Empty, with the reason, when either fails.
LockedFile LockAndRead(const std::filesystem::path& file, std::string& bytes, std::string* why);
// Replaces `file` whole (flushed, renamed; a busy file is tried again for a moment). The
// caller holds its LockedFile.
bool ReplaceLocked(const std::filesystem::path& file, const std::string& bytes, std::string* why);

// The corrections file of a game ("" = the common folder).
std::filesystem::path CorrectionsFile(const std::filesystem::path& dictionaryFolder,
                                      const std::string& game);

// The source as a `line` entry matches it: without trailing spaces, tabs, CRs and LFs.
std::string_view LineKey(std::string_view source);

}  // namespace server

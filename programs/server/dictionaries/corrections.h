// Corrections: `line` entries that a player makes (in the workbench, or by importing a shared
// file), kept in corrections.txt of the game's dictionary folder, where the plug-in of every
// worker (and of the classic host) reads them like any other dictionary file.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

inline constexpr const wchar_t* kCorrectionsFileName = L"corrections.txt";

// Writes (or replaces) `line` entries in <dictionaryFolder>/<game>/corrections.txt atomically
// (temporary file, then rename), creating the game's folder; game "" = the common folder. false
// with a reason on failure.
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

// The corrections file of a game ("" = the common folder).
std::filesystem::path CorrectionsFile(const std::filesystem::path& dictionaryFolder,
                                      const std::string& game);

// The source as a `line` entry matches it: without trailing spaces, tabs, CRs and LFs.
std::string_view LineKey(std::string_view source);

}  // namespace server

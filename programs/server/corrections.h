// Corrections: `line` entries written into a game's corrections.txt in the dictionary folder.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace server {

// Writes (or replaces) `line` entries in <dictionaryFolder>/<game>/corrections.txt atomically
// (temporary file, then rename), creating the game's folder; game "" = the common folder.
// false with a reason on failure.
bool SaveCorrections(const std::filesystem::path& dictionaryFolder, const std::string& game,
                     const std::vector<std::pair<std::string, std::string>>& sourceToTranslation,
                     std::string* why);

}  // namespace server

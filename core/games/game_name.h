#pragma once
// A game's name as clients send it, and the folder of its own entries that it selects. One
// rule for the plug-in, the server's routes, the file job, the data folder and the extension.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mirelo::games {

// Longer names are refused: a folder name, not a sentence.
inline constexpr std::size_t kGameNameMaxBytes = 64;

// The name as a folder under the dictionary and data folders: letters folded as Windows
// compares file names (case_fold.h), so that two names the file system takes for one folder are
// one key. nullopt when the name is not strict UTF-8, could leave that folder or could not be a
// Windows file name; `why` then says which rule it broke, in English, for a 400 answer.
std::optional<std::string> CheckGameName(std::string_view utf8, std::string* why = nullptr);

// The game an executable runs, named as the extension names it: the file's name (after the last
// \ or /) without a final ".exe" in any case, then checked and folded as above.
std::optional<std::string> GameOfExecutable(std::string_view utf8Path);

}  // namespace mirelo::games

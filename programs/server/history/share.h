// A game's translations as files players share: the Unity game translator's translation file
// (source=translation, with its escapes), UTF-8 TSV, a JSON object of source: translation (as
// MTool writes it too), and LunaTranslator's pre-translation JSON (source: {"userTrans",
// "machineTrans"}).
// Export takes the game's corrections, then its history; import makes corrections.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace server {

class History;

enum class ShareFormat { kXUnity, kTsv, kJson, kLuna, kMtool };

// As a dictionary file may be.
inline constexpr std::size_t kMaxImportBytes = std::size_t{16} << 20;

using Pairs = std::vector<std::pair<std::string, std::string>>;

// From the file's extension (.txt, .tsv, .json, any case); nullopt for any other.
std::optional<ShareFormat> FormatOfPath(const std::filesystem::path& file);

// xunity, tsv, json, luna or mtool; nullopt for any other.
std::optional<ShareFormat> FormatNamed(std::string_view name);

// The file's bytes, UTF-8 without a byte order mark.
std::string ShareText(ShareFormat format, const Pairs& entries);
// LunaTranslator's file: the first `corrections` entries are the player's own (userTrans), the
// rest the engine's (machineTrans).
std::string LunaText(const Pairs& entries, std::size_t corrections);

struct SharedEntries {
    Pairs entries;
    std::vector<std::string> skipped;  // "line N: why" or "\"source\": why", worded
    std::size_t expressions = 0;       // of them, the translator's own r:/sr: lines
    bool readable = true;              // false: not text of the format at all
};
// Reads a shared file; entries that cannot be corrections are skipped and said why. The three
// JSON formats are read alike: a value is a translation, or an object whose userTrans (else
// machineTrans) is. A source of several lines makes one correction per line when its
// translation has as many.
SharedEntries ReadShared(ShareFormat format, std::string_view bytes);

// The game's corrections, then for each other source its latest translation in the history
// (`history` may be null). `corrections` gets how many of the first kind there are; `why`, the
// reason when the history could not be read.
Pairs ExportEntries(const std::filesystem::path& dictionaryFolder, const std::string& game,
                    History* history, std::size_t* corrections, std::string* why = nullptr);

}  // namespace server

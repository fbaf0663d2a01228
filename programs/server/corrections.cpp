#include "corrections.h"

#include <fstream>
#include <map>

#include "atomic_file.h"
#include "game_name.h"

namespace server {
namespace {

bool Fail(std::string* why, const std::string& reason) {
    if (why) *why = reason;
    return false;
}

std::string Trimmed(std::string s) {
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.pop_back();
    return s;
}

}  // namespace

bool SaveCorrections(const std::filesystem::path& dictionaryFolder, const std::string& game,
                     const std::vector<std::pair<std::string, std::string>>& sourceToTranslation,
                     std::string* why) {
    std::filesystem::path folder = dictionaryFolder;
    if (!game.empty()) {
        std::string reason;
        const std::optional<std::string> folded = programs::CheckGameName(game, &reason);
        if (!folded) return Fail(why, reason);
        folder /= std::filesystem::u8path(*folded);
    }
    std::map<std::string, std::string> wanted;
    for (const auto& [source, translation] : sourceToTranslation) {
        const std::string from = Trimmed(source);
        if (from.empty()) return Fail(why, "the source is empty");
        // The file has no escapes: these would end the entry or its column.
        if (from.find_first_of("\r\n\t") != std::string::npos ||
            translation.find_first_of("\r\n\t") != std::string::npos)
            return Fail(why, "a correction holds a line break or a tab");
        wanted[from] = translation;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return Fail(why, "cannot make the folder " + folder.filename().string());
    const std::filesystem::path file = folder / "corrections.txt";

    // The lines that stay: everything but the entries for the lines given again.
    std::string kept;
    if (std::ifstream in{file, std::ios::binary}) {
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("line\t", 0) == 0) {
                const std::size_t tab = line.find('\t', 5);
                if (wanted.count(Trimmed(line.substr(5, tab == std::string::npos ? tab : tab - 5))))
                    continue;
            }
            kept += line + "\n";
        }
    }
    for (const auto& [from, to] : wanted) kept += "line\t" + from + "\t" + to + "\n";
    return WriteFileAtomically(file, kept, why);
}

}  // namespace server

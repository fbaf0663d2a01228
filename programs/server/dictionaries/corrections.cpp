#include "corrections.h"

#include <windows.h>

#include <map>
#include <mutex>
#include <optional>

#include "code_pages.h"
#include "dictionary.h"
#include "dictionary_folder_win.h"
#include "dictionary_words.h"
#include "file_replace.h"
#include "game_name.h"
#include "handles.h"
#include "messages.h"
#include "program_text.h"
#include "utf8.h"

namespace server {
namespace {

using programs::Format;
using programs::Msg;
using programs::Text;

constexpr std::string_view kLineKind = "line\t";

// How long a save waits for another process saving the same file.
constexpr DWORD kSaveLockWaitMs = 10000;

// The FROM of a `line` entry as the dictionary reads the line; nullopt for any other line.
std::optional<std::string_view> LineFrom(std::string_view text) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return std::nullopt;
    text.remove_prefix(first);
    // The kind may carry spaces before its tab.
    const std::size_t tab = text.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    std::string_view kind = text.substr(0, tab);
    while (!kind.empty() && kind.back() == ' ') kind.remove_suffix(1);
    if (kind != "line") return std::nullopt;
    std::string_view rest = text.substr(tab + 1);
    const std::size_t end = rest.find('\t');
    if (end == std::string_view::npos) return std::nullopt;
    return rest.substr(0, end);
}

std::string_view LineTo(std::string_view text) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    const std::size_t a = text.find('\t');
    const std::size_t b = text.find('\t', a + 1);
    const std::size_t c = text.find('\t', b + 1);
    return text.substr(b + 1, c == std::string_view::npos ? std::string_view::npos : c - b - 1);
}

std::vector<std::string_view> SplitLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        lines.push_back(bytes.substr(0, lf));
        if (lf == std::string_view::npos) break;
        bytes.remove_prefix(lf + 1);
    }
    return lines;
}

}  // namespace

std::string_view LineKey(std::string_view source) {
    const std::size_t last = source.find_last_not_of(" \t\r\n");
    return last == std::string_view::npos ? std::string_view() : source.substr(0, last + 1);
}

std::filesystem::path CorrectionsFile(const std::filesystem::path& dictionaryFolder,
                                      const std::string& game) {
    const std::filesystem::path folder =
        game.empty() ? dictionaryFolder
                     : dictionaryFolder / std::filesystem::path(mirelo::Utf8ToWide(game));
    return folder / kCorrectionsFileName;
}

std::vector<std::string> CorrectionProblems(
    const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<std::string> problems(entries.size());
    // One dictionary file of all of them, entry i on line i + 1, so that a large import is
    // checked in one pass; what cannot even be a line of it is named first.
    std::string file;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& [source, translation] = entries[i];
        if (!mirelo::text::IsUtf8(source) || !mirelo::text::IsUtf8(translation)) {
            problems[i] = Format(Msg::kShareNotText, {"-"});
        } else if (source.find_first_of(std::string_view("\t\r\n\0", 4)) != std::string::npos ||
                   translation.find_first_of(std::string_view("\t\r\n\0", 4)) !=
                       std::string::npos) {
            problems[i] = Text(Msg::kShareLineBreak);
        }
        file += problems[i].empty() ? std::string(kLineKind) + source + "\t" + translation : "#";
        file += '\n';
    }
    std::vector<mirelo::dict::Problem> found;
    const mirelo::dict::SourceFile source{"corrections.txt", file};
    mirelo::dict::Dictionary::Compile({&source, 1}, mirelo::dict::SystemEncoders(), &found,
                                      {false, nullptr});
    for (const mirelo::dict::Problem& p : found) {
        // A line given twice is no fault here: the later one is kept.
        if (p.kind == mirelo::dict::ProblemKind::kLineRepeated || p.line < 1 ||
            static_cast<std::size_t>(p.line) > entries.size())
            continue;
        std::string& slot = problems[static_cast<std::size_t>(p.line) - 1];
        if (slot.empty()) slot = programs::DescribeReason(p);
    }
    return problems;
}

std::vector<std::pair<std::string, std::string>> ReadCorrections(
    const std::filesystem::path& dictionaryFolder, const std::string& game) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string bytes;
    mirelo::ReadWholeFile(CorrectionsFile(dictionaryFolder, game).wstring(), bytes);
    mirelo::text::StripUtf8Bom(bytes);
    for (std::string_view line : SplitLines(bytes)) {
        const std::optional<std::string_view> from = LineFrom(line);
        if (from && !LineKey(*from).empty())
            entries.emplace_back(std::string(*from), std::string(LineTo(line)));
    }
    return entries;
}

bool SaveCorrections(const std::filesystem::path& dictionaryFolder, const std::string& game,
                     const std::vector<std::pair<std::string, std::string>>& sourceToTranslation,
                     std::string* why) {
    // One writer at a time in this process (the workbench and an import may meet here), and
    // across processes by the lock file below.
    static std::mutex lock;
    const std::lock_guard guard(lock);
    if (!game.empty()) {
        std::string reason;
        const std::optional<std::string> folded = mirelo::games::CheckGameName(game, &reason);
        if (!folded || *folded != game) {
            if (why)
                *why = Format(Msg::kServerArgShareGame, {game, folded ? "not folded" : reason});
            return false;
        }
    }
    for (const std::string& problem : CorrectionProblems(sourceToTranslation)) {
        if (!problem.empty()) {
            if (why) *why = problem;
            return false;
        }
    }
    const std::filesystem::path file = CorrectionsFile(dictionaryFolder, game);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);

    // The last one given for a line wins, as in the dictionary.
    std::map<std::string, std::string, std::less<>> fresh;
    std::vector<std::string> order;
    for (const auto& [source, translation] : sourceToTranslation) {
        const std::string key(LineKey(source));
        if (fresh.find(key) == fresh.end()) order.push_back(key);
        fresh[key] = std::string(kLineKind) + source + "\t" + translation;
    }

    std::string old;
    const LockedFile locked = LockAndRead(file, old, why);
    if (!locked) return false;

    // The player's own lines, comments and order stay; a line given again is replaced where
    // it stands, and its repeats go.
    std::string out;
    std::map<std::string, bool, std::less<>> placed;
    for (std::string_view line : SplitLines(old)) {
        const std::string_view body = mirelo::text::HasUtf8Bom(line) ? line.substr(3) : line;
        const std::optional<std::string_view> from = LineFrom(body);
        const auto it = from ? fresh.find(LineKey(*from)) : fresh.end();
        if (it == fresh.end()) {
            out.append(line);
            out += '\n';
            continue;
        }
        if (body.size() != line.size()) out.append(line.substr(0, 3));  // the BOM
        if (placed[it->first]) continue;
        placed[it->first] = true;
        out += it->second + "\r\n";
    }
    for (const std::string& key : order)
        if (!placed[key]) out += fresh[key] + "\r\n";
    if (out.size() > mirelo::dict::kMaxFileBytes) {
        if (why) *why = Format(Msg::kCorrectionsTooLarge, {mirelo::WideToUtf8(file.wstring())});
        return false;
    }
    return ReplaceLocked(file, out, why);
}

LockedFile LockAndRead(const std::filesystem::path& file, std::string& bytes, std::string* why) {
    const std::wstring target = file.wstring();
    DWORD error = 0;
    mirelo::FileLock lock = mirelo::FileLock::Take(target, kSaveLockWaitMs, &error);
    if (!lock) {
        if (why)
            *why = Format(Msg::kSaveCannotLock,
                          {mirelo::WideToUtf8(target), programs::SystemMessage(error)});
        return {};
    }
    // What another process saved before the lock was ours is read now, so it stays.
    error = mirelo::ReadWholeFile(target, bytes);
    if (error && error != ERROR_FILE_NOT_FOUND) {
        if (why)
            *why = Format(Msg::kShareCannotRead,
                          {mirelo::WideToUtf8(target), programs::SystemMessage(error)});
        return {};
    }
    return LockedFile{std::move(lock)};
}

bool ReplaceLocked(const std::filesystem::path& file, const std::string& bytes, std::string* why) {
    const std::wstring target = file.wstring();
    const DWORD error = mirelo::ReplaceFileWith(target, bytes);
    if (error && why)
        *why = Format(Msg::kShareCannotWrite,
                      {mirelo::WideToUtf8(target), programs::SystemMessage(error)});
    return error == 0;
}

}  // namespace server

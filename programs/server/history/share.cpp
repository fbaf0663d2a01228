#include "share.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "code_pages.h"
#include "corrections.h"
#include "history.h"
#include "messages.h"
#include "program_text.h"
#include "exit_codes.h"
#include "text_output.h"
#include "utf8.h"

namespace server {
namespace {

using programs::Err;
using programs::Format;
using programs::Msg;
using programs::Out;
using programs::Text;

// The translation file's escapes: a backslash, line breaks, a tab, and the '=' that would
// otherwise end the source (TSV has no need of that one).
std::string Escape(std::string_view s, bool equals = true) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '=':
                out += equals ? "\\=" : "=";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// An escape it does not know keeps its backslash, as the translator does.
std::string Unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char next = s[++i];
        switch (next) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
            case '=':
            case '/':
                out += next;
                break;
            default:
                out += '\\';
                out += next;
        }
    }
    return out;
}

// The first '=' with no backslash before it.
std::size_t Separator(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\')
            ++i;
        else if (line[i] == '=')
            return i;
    }
    return std::string_view::npos;
}

std::string Quoted(std::string_view s) {
    // Cut between characters: a whole last character stays.
    std::size_t n = std::min<std::size_t>(s.size(), 40);
    while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    const std::string_view cut = s.substr(0, n);
    // A line break or tab of the source would split the one line that names it.
    std::string shown;
    for (char c : cut) {
        if (c == '\n' || c == '\r' || c == '\t') {
            shown += '\\';
            shown += c == '\n' ? 'n' : c == '\r' ? 'r' : 't';
        } else {
            shown += c;
        }
    }
    return "\"" + shown + (cut.size() < s.size() ? "...\"" : "\"");
}

// Entries are checked all together once the file is read (Checked).
void Take(SharedEntries& r, std::vector<std::string>& places, std::string where, std::string source,
          std::string to) {
    r.entries.emplace_back(std::move(source), std::move(to));
    places.push_back(std::move(where));
}

SharedEntries Checked(SharedEntries r, const std::vector<std::string>& where) {
    const std::vector<std::string> problems = CorrectionProblems(r.entries);
    Pairs kept;
    for (std::size_t i = 0; i < problems.size(); ++i) {
        if (problems[i].empty())
            kept.push_back(std::move(r.entries[i]));
        else
            r.skipped.push_back(where[i] + ": " + problems[i]);
    }
    r.entries = std::move(kept);
    return r;
}

}  // namespace

std::optional<ShareFormat> FormatOfPath(const std::filesystem::path& file) {
    std::wstring ext = file.extension().wstring();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](wchar_t c) { return c < 128 ? static_cast<wchar_t>(std::towlower(c)) : c; });
    if (ext == L".txt") return ShareFormat::kXUnity;
    if (ext == L".tsv") return ShareFormat::kTsv;
    if (ext == L".json") return ShareFormat::kJson;
    return std::nullopt;
}

std::string ShareText(ShareFormat format, const Pairs& entries) {
    if (format == ShareFormat::kJson) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        for (const auto& [source, to] : entries) j[source] = to;
        return j.dump(1, '\t', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    std::string out;
    for (const auto& [source, to] : entries) {
        if (format == ShareFormat::kXUnity) {
            // A line that starts with "//" would be read as a comment.
            std::string key = Escape(source);
            if (key.rfind("//", 0) == 0) key.insert(0, "\\");
            out += key + "=" + Escape(to) + "\n";
        } else {
            out += Escape(source, false) + "\t" + Escape(to, false) + "\n";
        }
    }
    return out;
}

SharedEntries ReadShared(ShareFormat format, std::string_view bytes) {
    SharedEntries r;
    std::vector<std::string> places;  // where each entry was read
    mirelo::text::StripUtf8Bom(bytes);
    if (!mirelo::text::IsUtf8(bytes) || bytes.find('\0') != std::string_view::npos) {
        r.readable = false;
        return r;
    }
    if (format == ShareFormat::kJson) {
        const nlohmann::json j = nlohmann::json::parse(bytes, nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            r.readable = false;
            return r;
        }
        for (const auto& [source, to] : j.items()) {
            if (!to.is_string()) {
                r.skipped.push_back(Quoted(source) + ": " + Text(Msg::kShareNotString));
                continue;
            }
            Take(r, places, Quoted(source), source, to.get<std::string>());
        }
        return Checked(std::move(r), places);
    }
    int number = 0;
    for (const programs::TextLine<char>& line : programs::SplitLines(bytes)) {
        ++number;
        const std::string_view text = line.text;
        const std::string where = "line " + std::to_string(number);
        if (format == ShareFormat::kTsv) {
            if (text.empty()) continue;
            const std::size_t tab = text.find('\t');
            if (tab == std::string_view::npos ||
                text.find('\t', tab + 1) != std::string_view::npos) {
                r.skipped.push_back(where + ": " + Text(Msg::kShareLineBreak));
                continue;
            }
            Take(r, places, where, Unescape(text.substr(0, tab)), Unescape(text.substr(tab + 1)));
            continue;
        }
        // Comments, blank lines, and the regular expressions and splitters the translator
        // applies itself: none of them is one line's translation.
        if (text.empty() || text.rfind("//", 0) == 0 || text.rfind("r:", 0) == 0 ||
            text.rfind("sr:", 0) == 0)
            continue;
        const std::size_t eq = Separator(text);
        if (eq == std::string_view::npos) continue;
        Take(r, places, where, Unescape(text.substr(0, eq)), Unescape(text.substr(eq + 1)));
    }
    return Checked(std::move(r), places);
}

Pairs ExportEntries(const std::filesystem::path& dictionaryFolder, const std::string& game,
                    History* history, std::size_t* corrections, std::string* why) {
    Pairs entries;
    std::set<std::string, std::less<>> corrected;
    // The later of two corrections for a line is the one in use.
    for (auto& [source, to] : ReadCorrections(dictionaryFolder, game)) {
        const std::string key(LineKey(source));
        if (corrected.insert(key).second) {
            entries.emplace_back(std::move(source), std::move(to));
        } else {
            for (auto& e : entries)
                if (LineKey(e.first) == key) e.second = to;
        }
    }
    if (corrections) *corrections = entries.size();
    if (!history) return entries;
    for (auto& [source, to] : history->Latest(game, why))
        if (!corrected.count(LineKey(source)))
            entries.emplace_back(std::move(source), std::move(to));
    return entries;
}

}  // namespace server

#include "share.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <unordered_map>

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
void AppendEscaped(std::string& out, std::string_view s, bool equals) {
    for (;;) {
        // Runs without an escape go in whole.
        const std::size_t plain = s.find_first_of(equals ? "\\\n\r\t=" : "\\\n\r\t");
        out.append(s.substr(0, plain));
        if (plain == std::string_view::npos) return;
        const char c = s[plain];
        s.remove_prefix(plain + 1);
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
            default:
                out += "\\=";
        }
    }
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
        // Members go in by hand: the object's own insert looks for the key among all those
        // before it. A source given twice keeps its first place and its last translation.
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        auto& members = j.get_ref<nlohmann::ordered_json::object_t&>();
        members.reserve(entries.size());
        std::unordered_map<std::string_view, std::size_t> at;
        at.reserve(entries.size());
        for (const auto& [source, to] : entries) {
            const auto [it, added] = at.try_emplace(source, members.size());
            if (added)
                members.emplace_back(source, to);
            else
                (members.begin() + static_cast<std::ptrdiff_t>(it->second))->second = to;
        }
        return j.dump(1, '\t', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    const bool xunity = format == ShareFormat::kXUnity;
    std::size_t size = 0;
    for (const auto& [source, to] : entries) size += source.size() + to.size() + 3;
    std::string out;
    out.reserve(size + size / 32);  // and room for a few escapes
    for (const auto& [source, to] : entries) {
        // A line that starts with "//" would be read as a comment.
        if (xunity && source.rfind("//", 0) == 0) out += '\\';
        AppendEscaped(out, source, xunity);
        out += xunity ? '=' : '\t';
        AppendEscaped(out, to, xunity);
        out += '\n';
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
                    History* history, std::size_t* corrections) {
    Pairs entries;
    std::unordered_map<std::string, std::size_t> corrected;  // by LineKey, where it is
    // The later of two corrections for a line is the one in use.
    for (auto& [source, to] : ReadCorrections(dictionaryFolder, game)) {
        const auto [it, added] =
            corrected.try_emplace(std::string(LineKey(source)), entries.size());
        if (added)
            entries.emplace_back(std::move(source), std::move(to));
        else
            entries[it->second].second = std::move(to);
    }
    if (corrections) *corrections = entries.size();
    if (!history) return entries;
    for (auto& [source, to] : history->Latest(game))
        if (!corrected.count(std::string(LineKey(source))))
            entries.emplace_back(std::move(source), std::move(to));
    return entries;
}

}  // namespace server

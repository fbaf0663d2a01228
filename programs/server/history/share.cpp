#include "share.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <tuple>
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

// The translation file's escapes: a backslash, line breaks, a tab, and (in the translation
// file, not in TSV) the '=' that would otherwise end the source and a "//" that would start a
// comment anywhere in the line: its second slash is written as \u002F, which the translator
// reads back as a slash.
void AppendEscaped(std::string& out, std::string_view s, bool equals) {
    bool slash = false;  // the last character written was a slash of `s`
    for (;;) {
        // Runs without an escape go in whole.
        const std::size_t plain = s.find_first_of(equals ? "\\\n\r\t=/" : "\\\n\r\t");
        if (plain != 0) slash = false;
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
            case '/':
                out += slash ? "\\u002F" : "/";
                slash = !slash;
                continue;
            default:
                out += "\\=";
        }
        slash = false;
    }
}

std::string Escape(std::string_view s, bool equals = true) {
    std::string out;
    out.reserve(s.size());
    AppendEscaped(out, s, equals);
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A UTF-16 code unit as UTF-8; a pair of surrogates (the first kept in `high`) as one character.
void AppendUnit(std::string& out, unsigned unit, unsigned& high) {
    unsigned cp = unit;
    if (unit >= 0xD800 && unit < 0xDC00) {
        high = unit;
        return;
    }
    if (unit >= 0xDC00 && unit < 0xE000) {
        if (!high) return;
        cp = 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00);
    }
    high = 0;
    mirelo::text::AppendUtf8(out, cp);
}

// An escape it does not know keeps its backslash, as the translator does; \uXXXX is a UTF-16
// code unit, as the translator reads it.
std::string Unescape(std::string_view s, bool xunity = false) {
    std::string out;
    out.reserve(s.size());
    unsigned high = 0;  // a surrogate waiting for its pair
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char next = s[++i];
        if (next == 'u' && xunity && i + 4 < s.size()) {
            unsigned unit = 0;
            bool hex = true;
            for (std::size_t k = 1; k <= 4; ++k) {
                const int d = HexDigit(s[i + k]);
                hex = hex && d >= 0;
                unit = unit * 16 + static_cast<unsigned>(std::max(d, 0));
            }
            if (hex) {
                AppendUnit(out, unit, high);
                i += 4;
                continue;
            }
        }
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

// Where a "//" with no backslash before it starts the rest of the line as a comment.
std::size_t CommentStart(std::string_view line) {
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        if (line[i] == '\\')
            ++i;
        else if (line[i] == '/' && line[i + 1] == '/')
            return i;
    }
    return std::string_view::npos;
}

// The translator takes every source that starts with "r:" or "sr:" for a regular expression
// (or a splitter), after its escapes are read: no escape keeps such a source literal. It is
// written as the expression that matches exactly that line, with a replacement that is exactly
// the translation, and read back as the line it matches.
constexpr std::string_view kRegexMeta = "\\*+?|{}[]()^$.# ";

bool NeedsRegexForm(std::string_view source) {
    return source.rfind("r:", 0) == 0 || source.rfind("sr:", 0) == 0;
}

std::string RegexForm(std::string_view source, std::string_view to) {
    std::string key = "r:\"^";
    for (char c : source) {
        if (kRegexMeta.find(c) != std::string_view::npos) key += '\\';
        key += c;
    }
    key += "$\"";
    std::string value = "\"";
    for (char c : to) value += c == '$' ? std::string("$$") : std::string(1, c);
    value += '"';
    return Escape(key) + "=" + Escape(value);
}

// The line a regular expression of RegexForm's shape matches, when it matches only that line.
std::optional<std::pair<std::string, std::string>> FromRegexForm(std::string_view key,
                                                                 std::string_view value) {
    constexpr std::string_view kOpen = "r:\"^", kClose = "$\"";
    if (key.size() < kOpen.size() + kClose.size() || key.rfind(kOpen, 0) != 0 ||
        key.substr(key.size() - kClose.size()) != kClose || value.size() < 2 ||
        value.front() != '"' || value.back() != '"')
        return std::nullopt;
    const std::string_view pattern = key.substr(kOpen.size(), key.size() - kOpen.size() - 2);
    std::string source;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool meta = kRegexMeta.find(pattern[i]) != std::string_view::npos;
        if (pattern[i] == '\\' && i + 1 < pattern.size() &&
            kRegexMeta.find(pattern[i + 1]) != std::string_view::npos) {
            source += pattern[++i];
        } else if (meta) {
            return std::nullopt;  // an expression of its own
        } else {
            source += pattern[i];
        }
    }
    std::string to;
    const std::string_view body = value.substr(1, value.size() - 2);
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '$') {
            to += body[i];
        } else if (i + 1 < body.size() && body[i + 1] == '$') {
            to += '$';
            ++i;
        } else {
            return std::nullopt;  // a group put in
        }
    }
    if (!NeedsRegexForm(source)) return std::nullopt;
    return std::make_pair(std::move(source), std::move(to));
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

std::vector<std::string> LinesOf(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = s.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(s.substr(start, end - start - (end > start && s[end - 1] == '\r')));
    lines.push_back(s.substr(start));
    return lines;
}

// Entries are checked all together once the file is read (Checked). The server translates
// line by line, so a source of several lines is as many corrections, when the lines pair up.
void Take(SharedEntries& r, std::vector<std::string>& places, std::string where, std::string source,
          std::string to) {
    if (source.find('\n') != std::string::npos) {
        const std::vector<std::string> from = LinesOf(source), into = LinesOf(to);
        if (from.size() != into.size()) {
            // A JSON entry's place is its quoted source already.
            const std::string named = where.starts_with('"') ? where : where + " " + Quoted(source);
            r.skipped.push_back(named + ": " +
                                Format(Msg::kShareLinesDiffer,
                                       {std::to_string(from.size()), std::to_string(into.size())}));
            return;
        }
        for (std::size_t i = 0; i < from.size(); ++i) {
            if (from[i].empty() && into[i].empty()) continue;  // a blank line between two
            r.entries.emplace_back(from[i], into[i]);
            places.push_back(where);
        }
        return;
    }
    r.entries.emplace_back(std::move(source), std::move(to));
    places.push_back(std::move(where));
}

// A value of the JSON formats: a translation, or LunaTranslator's pair of them.
std::optional<std::string> JsonTranslation(const nlohmann::json& value, std::string& why) {
    if (value.is_string()) return value.get<std::string>();
    if (!value.is_object()) {
        why = Text(Msg::kShareNotString);
        return std::nullopt;
    }
    for (const char* key : {"userTrans", "machineTrans"}) {
        const auto it = value.find(key);
        if (it != value.end() && it->is_string() && !it->get_ref<const std::string&>().empty())
            return it->get<std::string>();
    }
    why = Text(Msg::kShareNoTranslation);
    return std::nullopt;
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

std::optional<ShareFormat> FormatNamed(std::string_view name) {
    if (name == "xunity") return ShareFormat::kXUnity;
    if (name == "tsv") return ShareFormat::kTsv;
    if (name == "json") return ShareFormat::kJson;
    if (name == "luna") return ShareFormat::kLuna;
    if (name == "mtool") return ShareFormat::kMtool;
    return std::nullopt;
}

// Members go in by hand: the object's own insert looks for the key among all those before it.
// A source given twice keeps its first place and its last value.
template <typename ValueOf>
std::string JsonObjectText(const Pairs& entries, ValueOf valueOf) {
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    auto& members = j.get_ref<nlohmann::ordered_json::object_t&>();
    members.reserve(entries.size());
    std::unordered_map<std::string_view, std::size_t> at;
    at.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& source = entries[i].first;
        const auto [it, added] = at.try_emplace(source, members.size());
        if (added)
            members.emplace_back(source, valueOf(i));
        else
            (members.begin() + static_cast<std::ptrdiff_t>(it->second))->second = valueOf(i);
    }
    return j.dump(1, '\t', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string LunaText(const Pairs& entries, std::size_t corrections) {
    return JsonObjectText(entries, [&](std::size_t i) {
        const bool own = i < corrections;
        return nlohmann::ordered_json{{"userTrans", own ? entries[i].second : std::string()},
                                      {"machineTrans", own ? std::string() : entries[i].second}};
    });
}

std::string ShareText(ShareFormat format, const Pairs& entries) {
    if (format == ShareFormat::kLuna) return LunaText(entries, entries.size());
    if (format == ShareFormat::kJson || format == ShareFormat::kMtool)
        return JsonObjectText(entries, [&](std::size_t i) { return entries[i].second; });
    const bool xunity = format == ShareFormat::kXUnity;
    std::size_t size = 0;
    for (const auto& [source, to] : entries) size += source.size() + to.size() + 3;
    std::string out;
    out.reserve(size + size / 32);  // and room for a few escapes
    for (const auto& [source, to] : entries) {
        if (xunity && NeedsRegexForm(source)) {
            out += RegexForm(source, to);
        } else {
            AppendEscaped(out, source, xunity);
            out += xunity ? '=' : '\t';
            AppendEscaped(out, to, xunity);
        }
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
    if (format != ShareFormat::kXUnity && format != ShareFormat::kTsv) {
        const nlohmann::json j = nlohmann::json::parse(bytes, nullptr, false);
        if (j.is_discarded() || !j.is_object()) {
            r.readable = false;
            return r;
        }
        for (const auto& [source, value] : j.items()) {
            std::string why;
            std::optional<std::string> to = JsonTranslation(value, why);
            if (!to) {
                r.skipped.push_back(Quoted(source) + ": " + why);
                continue;
            }
            Take(r, places, Quoted(source), source, std::move(*to));
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
        // A "//" starts a comment anywhere in the line, as the translator reads it: before the
        // '=' the line is no entry, after it the translation ends there.
        std::string_view entry = text;
        const std::size_t comment = CommentStart(entry);
        const std::size_t eq = Separator(entry);
        if (eq == std::string_view::npos || comment < eq) continue;
        if (comment != std::string_view::npos) {
            entry = entry.substr(0, comment);
            while (entry.size() > eq + 1 && (entry.back() == ' ' || entry.back() == '\t'))
                entry.remove_suffix(1);
        }
        std::string source = Unescape(entry.substr(0, eq), true);
        std::string to = Unescape(entry.substr(eq + 1), true);
        // The regular expressions and splitters the translator applies itself are no one
        // line's translation, unless written by RegexForm.
        if (NeedsRegexForm(source)) {
            auto literal = FromRegexForm(source, to);
            if (!literal) {
                // A JSON entry's place is its quoted source already.
                const std::string named =
                    where.starts_with('"') ? where : where + " " + Quoted(source);
                r.skipped.push_back(named + ": " + Text(Msg::kShareRegex));
                ++r.expressions;
                continue;
            }
            std::tie(source, to) = std::move(*literal);
        }
        Take(r, places, where, std::move(source), std::move(to));
    }
    return Checked(std::move(r), places);
}

Pairs ExportEntries(const std::filesystem::path& dictionaryFolder, const std::string& game,
                    History* history, std::size_t* corrections, std::string* why) {
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
    for (auto& [source, to] : history->Latest(game, why))
        if (!corrected.count(std::string(LineKey(source))))
            entries.emplace_back(std::move(source), std::move(to));
    return entries;
}

}  // namespace server

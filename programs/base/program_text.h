#pragma once
// Text rules shared by the programs: each in one place so that the server, the host tool and
// the extension cannot drift apart. UTF-8 and UTF-16 alike where both are met.

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace programs {

template <class Char>
struct TextLine {
    std::basic_string_view<Char> text;
    std::basic_string_view<Char> end;  // "\n", "\r\n", "\r" (only at the very end) or empty
};

// A line ends at "\n", with a "\r" before it; a "\r" that ends the text ends its line too,
// so that no byte is lost and none reaches the engine. "a\nb" and "a\nb\n" both have two
// lines; "" has none.
template <class Char>
std::vector<TextLine<Char>> SplitLinesOf(std::basic_string_view<Char> text) {
    std::vector<TextLine<Char>> lines;
    while (!text.empty()) {
        std::size_t end = text.find(Char('\n'));
        end = end == text.npos ? text.size() : end + 1;
        std::basic_string_view<Char> line = text.substr(0, end);
        std::size_t ending = line.back() == Char('\n') ? 1 : 0;
        if (line.size() > ending && line[line.size() - ending - 1] == Char('\r')) ++ending;
        lines.push_back({line.substr(0, line.size() - ending), line.substr(line.size() - ending)});
        text.remove_prefix(end);
    }
    return lines;
}
inline std::vector<TextLine<char>> SplitLines(std::string_view text) {
    return SplitLinesOf(text);
}
inline std::vector<TextLine<wchar_t>> SplitLines(std::wstring_view text) {
    return SplitLinesOf(text);
}

// Only spaces, tabs, line ends and ideographic spaces (U+3000): nothing for the engine.
bool IsBlank(std::string_view utf8);
bool IsBlank(std::wstring_view s);

// Decimal digits only (no sign, no spaces), at most nine of them, within [min, max].
bool ParseNumber(std::wstring_view s, unsigned long min, unsigned long max, unsigned long& out);

// "{0}" to "{9}" become the arguments. A place without an argument stays as written, so that
// a message given too few shows it rather than silently losing words.
template <class Char, class Args>
std::basic_string<Char> FillPlaces(std::basic_string_view<Char> text, const Args& args) {
    std::basic_string<Char> out;
    out.reserve(text.size() + 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == Char('{') && i + 2 < text.size() && text[i + 1] >= Char('0') &&
            text[i + 1] <= Char('9') && text[i + 2] == Char('}')) {
            const auto n = static_cast<std::size_t>(text[i + 1] - Char('0'));
            if (n < std::size(args)) {
                out += std::basic_string_view<Char>(*(std::begin(args) + n));
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace programs

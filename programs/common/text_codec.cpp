#include "text_codec.h"

#include <algorithm>
#include <cstdint>

#include "code_pages.h"
#include "encoding_guess.h"
#include "utf8.h"

namespace host {

using mirelo::kCp949CodePage;
using mirelo::kShiftJisCodePage;

std::vector<TextRun> SplitByShiftJis(const std::string& utf8) {
    std::vector<TextRun> runs;
    if (utf8.empty()) return runs;
    std::string sjis;
    if (utf8.find('\0') == std::string::npos &&
        mirelo::EncodeExactly(kShiftJisCodePage, utf8, sjis)) {
        runs.push_back({false, std::move(sjis)});
        return runs;
    }
    for (size_t i = 0; i < utf8.size();) {
        const size_t n = std::min(mirelo::text::Utf8SequenceLength(static_cast<uint8_t>(utf8[i])),
                                  utf8.size() - i);
        const std::string_view one(utf8.data() + i, n);
        const bool keep = one[0] == '\0' || !mirelo::EncodeExactly(kShiftJisCodePage, one, sjis);
        if (runs.empty() || runs.back().keep != keep) runs.push_back({keep, {}});
        runs.back().text += keep ? std::string(one) : sjis;
        i += n;
    }
    return runs;
}

std::string Utf8ToShiftJis(const std::string& utf8, bool* lossy) {
    return mirelo::EncodeLossy(kShiftJisCodePage, utf8, lossy);
}

std::string Cp949ToUtf8(const std::string& cp949) {
    return mirelo::WideToUtf8(mirelo::CodePageToWide(kCp949CodePage, cp949));
}

std::string ShiftJisToUtf8(const std::string& sjis) {
    return mirelo::WideToUtf8(mirelo::CodePageToWide(kShiftJisCodePage, sjis));
}

bool LineReader::Next(std::string& line, std::string* end) {
    line.clear();
    if (end) end->clear();
    int c;
    bool any = false;
    bool feed = false;
    while ((c = std::getc(m_file)) != EOF) {
        any = true;
        if (c == '\n') {
            feed = true;
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    const bool cr = feed && !line.empty() && line.back() == '\r';
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (end && feed) *end = cr ? "\r\n" : "\n";
    return true;
}

void StripUtf8Bom(std::string& s) {
    if (s.rfind("\xEF\xBB\xBF", 0) == 0) s.erase(0, 3);
}

std::vector<InputLine> SplitInputLinesWithEnds(std::string_view whole) {
    std::vector<InputLine> lines;
    while (!whole.empty()) {
        const size_t eol = whole.find('\n');
        std::string_view line = whole.substr(0, eol);
        size_t endLength = eol == std::string_view::npos ? 0 : 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            if (endLength) ++endLength;
        }
        lines.push_back({line, whole.substr(line.size(), endLength)});
        whole.remove_prefix(eol == std::string_view::npos ? whole.size() : eol + 1);
    }
    return lines;
}

std::vector<std::string_view> SplitInputLines(std::string_view whole) {
    std::vector<std::string_view> lines;
    for (const InputLine& line : SplitInputLinesWithEnds(whole)) lines.push_back(line.text);
    return lines;
}

bool IsShiftJis(std::string_view bytes) {
    if (!mirelo::text::IsShiftJisText(bytes)) return false;
    // The walk knows the form; the code page knows which places hold a character.
    return mirelo::IsValidInCodePage(kShiftJisCodePage, bytes);
}

InputVerdict DecideInputEncoding(std::string_view whole) {
    using mirelo::text::IsUtf8;
    if (mirelo::text::LooksLikeUtf16(whole)) return {InputVerdict::kUtf16};
    const bool mark = whole.substr(0, 3) == "\xEF\xBB\xBF";
    if (mark) whole.remove_prefix(3);
    if (IsUtf8(whole)) return {InputVerdict::kUtf8};
    const std::vector<std::string_view> lines = SplitInputLines(whole);
    unsigned long firstNeither = 0, firstSjisOnly = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (IsUtf8(lines[i])) continue;
        if (mark) return {InputVerdict::kMarkNotUtf8, static_cast<unsigned long>(i + 1)};
        if (!IsShiftJis(lines[i])) {
            firstNeither = static_cast<unsigned long>(i + 1);
            break;
        }
        if (firstSjisOnly == 0) firstSjisOnly = static_cast<unsigned long>(i + 1);
    }
    if (firstNeither != 0) return {InputVerdict::kNeither, firstNeither};
    for (std::string_view line : lines)
        if (!IsShiftJis(line)) return {InputVerdict::kMixed, firstSjisOnly};
    return {InputVerdict::kShiftJis};
}

}  // namespace host

#include "text_codec.h"

#include <algorithm>
#include <cstdint>

#include "code_pages.h"
#include "encoding_guess.h"
#include "utf8.h"

namespace programs {

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
    // The same ends as programs::SplitLines: a last "\r" alone is kept as the end.
    const bool cr = !line.empty() && line.back() == '\r';
    if (cr) line.pop_back();
    if (end) *end = std::string(cr ? "\r" : "") + (feed ? "\n" : "");
    return true;
}

bool IsShiftJis(std::string_view bytes) {
    if (!mirelo::text::IsShiftJisText(bytes)) return false;
    // The walk knows the form; the code page knows which places hold a character.
    return mirelo::IsValidInCodePage(kShiftJisCodePage, bytes);
}

InputVerdict DecideInputEncoding(std::string_view whole) {
    using mirelo::text::IsUtf8;
    if (mirelo::text::LooksLikeUtf16(whole)) return {InputVerdict::kUtf16};
    const bool mark = mirelo::text::HasUtf8Bom(whole);
    mirelo::text::StripUtf8Bom(whole);
    if (IsUtf8(whole)) return {InputVerdict::kUtf8};
    const std::vector<InputLine> lines = programs::SplitLines(whole);
    unsigned long firstNeither = 0, firstSjisOnly = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (IsUtf8(lines[i].text)) continue;
        if (mark) return {InputVerdict::kMarkNotUtf8, static_cast<unsigned long>(i + 1)};
        if (!IsShiftJis(lines[i].text)) {
            firstNeither = static_cast<unsigned long>(i + 1);
            break;
        }
        if (firstSjisOnly == 0) firstSjisOnly = static_cast<unsigned long>(i + 1);
    }
    if (firstNeither != 0) return {InputVerdict::kNeither, firstNeither};
    for (const InputLine& line : lines)
        if (!IsShiftJis(line.text)) return {InputVerdict::kMixed, firstSjisOnly};
    return {InputVerdict::kShiftJis};
}

}  // namespace programs

#include "text_codec.h"

#include <algorithm>
#include <cstdint>

#include "code_pages.h"
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

bool LineReader::Next(std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::getc(m_file)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (!any) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void StripUtf8Bom(std::string& s) {
    if (s.rfind("\xEF\xBB\xBF", 0) == 0) s.erase(0, 3);
}

}  // namespace host

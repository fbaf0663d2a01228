#include "text_codec.h"

#include <windows.h>

#include <cwchar>

namespace host {
namespace {

constexpr UINT kShiftJis = 932;
constexpr UINT kCp949 = 949;

std::wstring ToWide(UINT cp, const std::string& s) {
    if (s.empty()) return {};
    const int len = static_cast<int>(s.size());
    int n = MultiByteToWideChar(cp, 0, s.data(), len, nullptr, 0);
    if (n <= 0) return {};
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, s.data(), len, w.data(), n);
    return w;
}

std::string FromWide(UINT cp, const std::wstring& w, bool* lossy) {
    if (lossy) *lossy = false;
    if (w.empty()) return {};
    const int len = static_cast<int>(w.size());
    // UTF-8 takes neither a default character nor the flag that reports its use. Elsewhere a
    // best-fit look-alike would change the text without counting as lossy: '?' it is.
    const bool utf8 = cp == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL used = FALSE;
    int n = WideCharToMultiByte(cp, flags, w.data(), len, nullptr, 0, utf8 ? nullptr : "?",
                                utf8 ? nullptr : &used);
    if (n <= 0) return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(cp, flags, w.data(), len, s.data(), n, utf8 ? nullptr : "?",
                        utf8 ? nullptr : &used);
    if (lossy) *lossy = used != FALSE;
    return s;
}

// Characters that JIS places in Shift-JIS but code page 932 gives to their full-width twins
// (〜 is common in game text): taken as the twins rather than lost.
std::wstring WithShiftJisTwins(std::wstring w) {
    for (wchar_t& c : w) {
        switch (c) {
            case 0x301C:
                c = 0xFF5E;
                break;  // wave dash
            case 0x2016:
                c = 0x2225;
                break;  // double vertical line
            case 0x2212:
                c = 0xFF0D;
                break;  // minus sign
            case 0x00A2:
                c = 0xFFE0;
                break;  // cent sign
            case 0x00A3:
                c = 0xFFE1;
                break;  // pound sign
            case 0x00AC:
                c = 0xFFE2;
                break;  // not sign
            case 0x2014:
                c = 0x2015;
                break;  // em dash
            default:
                break;
        }
    }
    return w;
}

// The text in code page `cp`, only when it comes back from it unchanged.
bool ConvertExactly(UINT cp, const wchar_t* w, int len, std::string& out) {
    BOOL used = FALSE;
    int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, w, len, nullptr, 0, "?", &used);
    if (n <= 0 || used) return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, w, len, out.data(), n, "?", &used);
    std::wstring back = ToWide(cp, out);
    return !used && back.size() == static_cast<std::size_t>(len) &&
           std::wmemcmp(back.data(), w, back.size()) == 0;
}

}  // namespace

std::vector<TextRun> SplitByShiftJis(const std::string& utf8) {
    std::vector<TextRun> runs;
    const std::wstring original = ToWide(CP_UTF8, utf8);
    const std::wstring w = WithShiftJisTwins(original);
    const int len = static_cast<int>(w.size());
    std::string sjis;
    if (len == 0) return runs;
    if (w.find(L'\0') == std::wstring::npos && ConvertExactly(kShiftJis, w.data(), len, sjis)) {
        runs.push_back({false, std::move(sjis)});
        return runs;
    }
    for (int i = 0; i < len;) {
        const int n = IS_HIGH_SURROGATE(w[i]) && i + 1 < len && IS_LOW_SURROGATE(w[i + 1]) ? 2 : 1;
        const bool keep = w[i] == L'\0' || !ConvertExactly(kShiftJis, w.data() + i, n, sjis);
        if (runs.empty() || runs.back().keep != keep) runs.push_back({keep, {}});
        if (keep)
            runs.back().text +=
                FromWide(CP_UTF8, w.substr(static_cast<std::size_t>(i), n), nullptr);
        else
            runs.back().text += sjis;
        i += n;
    }
    return runs;
}

std::string Utf8ToShiftJis(const std::string& utf8, bool* lossy) {
    return FromWide(kShiftJis, WithShiftJisTwins(ToWide(CP_UTF8, utf8)), lossy);
}

std::string Cp949ToUtf8(const std::string& cp949) {
    return FromWide(CP_UTF8, ToWide(kCp949, cp949), nullptr);
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

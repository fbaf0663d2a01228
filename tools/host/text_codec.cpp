#include "text_codec.h"

#include <windows.h>

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
    // UTF-8 takes neither a default character nor the flag that reports its use.
    const bool utf8 = cp == CP_UTF8;
    BOOL used = FALSE;
    int n = WideCharToMultiByte(cp, 0, w.data(), len, nullptr, 0, utf8 ? nullptr : "?",
                                utf8 ? nullptr : &used);
    if (n <= 0) return {};
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, w.data(), len, s.data(), n, utf8 ? nullptr : "?",
                        utf8 ? nullptr : &used);
    if (lossy) *lossy = used != FALSE;
    return s;
}

}  // namespace

std::string Utf8ToShiftJis(const std::string& utf8, bool* lossy) {
    return FromWide(kShiftJis, ToWide(CP_UTF8, utf8), lossy);
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

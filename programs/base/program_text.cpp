#include "program_text.h"

#include "server_address.h"

namespace programs {

bool IsLoopback(std::string_view host) {
    return host.substr(0, 4) == "127." || host == "::1";
}

bool IsBlank(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        const char c = utf8[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else if (utf8.substr(i, 3) == "\xE3\x80\x80") {
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

bool IsBlank(std::wstring_view s) {
    for (wchar_t c : s)
        if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n' && c != L'\x3000') return false;
    return true;
}

bool ParseNumber(std::wstring_view s, unsigned long min, unsigned long max, unsigned long& out) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of(L"0123456789") != s.npos) return false;
    unsigned long n = 0;
    for (wchar_t c : s) n = n * 10 + static_cast<unsigned long>(c - L'0');
    out = n;
    return n >= min && n <= max;
}

}  // namespace programs

#include "code_pages.h"

namespace mirelo {
namespace {

// The characters JIS places in Shift-JIS that code page 932 files under their full-width
// twins; without this 〜, common in game text, would be lost.
wchar_t ShiftJisTwin(wchar_t c) {
    switch (c) {
        case 0x301C:
            return 0xFF5E;  // wave dash
        case 0x2016:
            return 0x2225;  // double vertical line
        case 0x2212:
            return 0xFF0D;  // minus sign
        case 0x00A2:
            return 0xFFE0;  // cent sign
        case 0x00A3:
            return 0xFFE1;  // pound sign
        case 0x00AC:
            return 0xFFE2;  // not sign
        case 0x2014:
            return 0x2015;  // em dash
        default:
            return c;
    }
}

std::wstring ToWide(UINT codePage, std::string_view bytes, DWORD flags) {
    if (bytes.empty()) return {};
    const int length = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, bytes.data(), length, wide.data(), n);
    return wide;
}

// The wide text in the code page's terms: 932's twins in place of their JIS originals.
std::wstring ForCodePage(UINT codePage, std::wstring wide) {
    if (codePage == kShiftJisCodePage)
        for (wchar_t& c : wide) c = ShiftJisTwin(c);
    return wide;
}

// False when some character took the default or does not come back as itself (a best-fit
// look-alike).
bool FromWideExactly(UINT codePage, const std::wstring& wide, std::string& out) {
    out.clear();
    if (wide.empty()) return true;
    const int length = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), length,
                                        nullptr, 0, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), length, out.data(), n,
                          nullptr, &usedDefault);
    return !usedDefault && ToWide(codePage, out, 0) == wide;
}

}  // namespace

std::string WideToUtf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int n =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Utf8ToWide(std::string_view utf8) {
    return ToWide(CP_UTF8, utf8, 0);
}

std::wstring CodePageToWide(UINT codePage, std::string_view bytes) {
    return ToWide(codePage, bytes, 0);
}

bool IsValidInCodePage(UINT codePage, std::string_view bytes) {
    return bytes.empty() || ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                                  static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

bool WideToCodePageExactly(UINT codePage, std::wstring_view wide, std::string& out) {
    return FromWideExactly(codePage, ForCodePage(codePage, std::wstring(wide)), out);
}

std::string WideToCodePage(UINT codePage, std::wstring_view original, bool* lossy) {
    if (lossy) *lossy = false;
    std::string out;
    const std::wstring wide = ForCodePage(codePage, std::wstring(original));
    if (FromWideExactly(codePage, wide, out)) return out;
    // Character by character, so that only those without a form become '?'.
    out.clear();
    std::string piece;
    for (size_t i = 0; i < wide.size();) {
        const size_t n =
            IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() && IS_LOW_SURROGATE(wide[i + 1]) ? 2
                                                                                               : 1;
        if (wide[i] != 0xFFFD && FromWideExactly(codePage, wide.substr(i, n), piece)) {
            out += piece;
        } else {
            out += '?';
            if (lossy) *lossy = true;
        }
        i += n;
    }
    return out;
}

bool EncodeExactly(UINT codePage, std::string_view utf8, std::string& out) {
    out.clear();
    if (utf8.empty()) return true;
    const std::wstring wide = ToWide(CP_UTF8, utf8, MB_ERR_INVALID_CHARS);
    if (wide.empty()) return false;
    return WideToCodePageExactly(codePage, wide, out);
}

std::string EncodeLossy(UINT codePage, std::string_view utf8, bool* lossy) {
    return WideToCodePage(codePage, ToWide(CP_UTF8, utf8, 0), lossy);
}

}  // namespace mirelo

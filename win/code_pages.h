#pragma once
// The one place where text crosses between UTF-8, UTF-16 and the two code pages the plug-in
// speaks (932 for Japanese in, 949 for Korean out).

#include <windows.h>

#include <string>
#include <string_view>

namespace mirelo {

inline constexpr UINT kShiftJisCodePage = 932;
inline constexpr UINT kCp949CodePage = 949;

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide);
// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);
// A code page's bytes to UTF-16 (932 or 949; CP_UTF8 too).
std::wstring CodePageToWide(UINT codePage, std::string_view bytes);
// Whether every byte of `bytes` belongs to a character the code page defines.
bool IsValidInCodePage(UINT codePage, std::string_view bytes);

// UTF-8 to `codePage` exactly: false, with `out` unspecified, for invalid UTF-8 or a character
// that has no form of its own there. A best-fit look-alike (é as e) is no form; for 932, a
// JIS character that the code page files under another code point (〜 U+301C as ～ 0x8160,
// ‖, −, ¢, £, ¬, —) is, since that is what a game writes for it.
bool EncodeExactly(UINT codePage, std::string_view utf8, std::string& out);

// The same conversion, but a character without a form becomes '?' and *lossy says whether
// any did; invalid UTF-8 becomes '?' too.
std::string EncodeLossy(UINT codePage, std::string_view utf8, bool* lossy = nullptr);

// The same two from UTF-16.
bool WideToCodePageExactly(UINT codePage, std::wstring_view wide, std::string& out);
std::string WideToCodePage(UINT codePage, std::wstring_view wide, bool* lossy = nullptr);

}  // namespace mirelo

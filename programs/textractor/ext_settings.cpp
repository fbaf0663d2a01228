#include "ext_settings.h"

#include "code_pages.h"
#include "ext_messages.h"
#include "utf8.h"

#include <cwctype>

namespace textractor {
namespace {

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && std::iswspace(s.front())) s.remove_prefix(1);
    while (!s.empty() && std::iswspace(s.back())) s.remove_suffix(1);
    return s;
}

std::wstring Lower(std::wstring_view s) {
    std::wstring out(s);
    for (wchar_t& c : out)
        if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
    return out;
}

// 1 or 0 (also on/off, yes/no, true/false); -1 for anything else.
int Flag(std::wstring_view v) {
    const std::wstring s = Lower(v);
    if (s == L"1" || s == L"on" || s == L"yes" || s == L"true") return 1;
    if (s == L"0" || s == L"off" || s == L"no" || s == L"false") return 0;
    return -1;
}

bool HostChars(std::wstring_view v) {
    if (v.empty() || v.size() > 253) return false;
    for (wchar_t c : v)
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
              c == L'.' || c == L'-'))
            return false;
    return true;
}

}  // namespace

bool DecodeSettingsFile(std::string_view bytes, std::wstring& text) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        bytes.remove_prefix(2);
        if (bytes.size() % 2) return false;
        text.assign(bytes.size() / 2, L'\0');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                           static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
        return true;
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    if (!mirelo::text::IsUtf8(bytes)) return false;
    text = mirelo::Utf8ToWide(bytes);
    return true;
}

ParsedSettings ParseSettings(std::wstring_view text) {
    ParsedSettings out;
    Settings& s = out.settings;
    const Settings defaults;
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = text.find(L'\n');
        std::wstring_view line = Trim(text.substr(0, end));
        text = end == std::wstring_view::npos ? std::wstring_view() : text.substr(end + 1);
        ++number;
        const std::wstring n = std::to_wstring(number);
        if (line.empty() || line.front() == L';' || line.front() == L'#' || line.front() == L'[')
            continue;
        const size_t eq = line.find(L'=');
        if (eq == std::wstring_view::npos) {
            out.problems.push_back(Words(Say::kSettingLine, {n}));
            continue;
        }
        const std::wstring key = Lower(Trim(line.substr(0, eq)));
        const std::wstring_view value = Trim(line.substr(eq + 1));
        const std::wstring v(value);
        auto bad = [&](const wchar_t* why, const std::wstring& fallback) {
            out.problems.push_back(Words(Say::kSettingBad, {n, key, v, why, fallback}));
        };
        if (key == L"host") {
            if (HostChars(value))
                s.host = v;
            else {
                s.host = defaults.host;
                bad(L"주소에는 영문자, 숫자, 점, 하이픈만 씁니다", defaults.host);
            }
        } else if (key == L"port") {
            unsigned long port = 0;
            bool digits = !value.empty() && value.size() <= 5;
            for (wchar_t c : value) digits = digits && c >= L'0' && c <= L'9';
            if (digits) port = std::stoul(v);
            if (digits && port >= 1 && port <= 65535)
                s.port = static_cast<unsigned short>(port);
            else {
                s.port = defaults.port;
                bad(L"1에서 65535까지의 수", std::to_wstring(defaults.port));
            }
        } else if (key == L"server_folder") {
            s.serverFolder = v;
            while (!s.serverFolder.empty() &&
                   (s.serverFolder.back() == L'\\' || s.serverFolder.back() == L'/'))
                s.serverFolder.pop_back();
            if (s.serverFolder.size() >= 2 && s.serverFolder.front() == L'"' &&
                s.serverFolder.back() == L'"')
                s.serverFolder = s.serverFolder.substr(1, s.serverFolder.size() - 2);
        } else if (key == L"translation") {
            const std::wstring m = Lower(value);
            if (m == L"append" || m == L"replace")
                s.replace = m == L"replace";
            else {
                s.replace = defaults.replace;
                bad(L"append 또는 replace", L"append");
            }
        } else if (key == L"selected_thread_only" || key == L"clipboard") {
            const int f = Flag(value);
            bool& target = key == L"clipboard" ? s.clipboard : s.selectedOnly;
            const bool fallback = key == L"clipboard" ? defaults.clipboard : defaults.selectedOnly;
            if (f >= 0)
                target = f == 1;
            else {
                target = fallback;
                bad(L"1 또는 0", fallback ? L"1" : L"0");
            }
        } else if (key == L"options") {
            bool ok = value.empty() || value.size() == 2;
            for (wchar_t c : value) ok = ok && (c == L'0' || c == L'1');
            if (ok)
                s.options = v;
            else {
                s.options = defaults.options;
                bad(L"0과 1로 된 두 자리, 예: 11", L"(mirelo-server의 기본값)");
            }
        } else {
            out.problems.push_back(Words(Say::kSettingUnknown, {n, key}));
        }
    }
    return out;
}

bool IsLoopback(const std::wstring& host) {
    const std::wstring h = Lower(host);
    return h == L"localhost" || h.rfind(L"127.", 0) == 0;
}

}  // namespace textractor

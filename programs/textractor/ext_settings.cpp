#include "ext_settings.h"

#include "code_pages.h"
#include "ext_messages.h"
#include "program_text.h"
#include "utf8.h"

#include <algorithm>
#include <cwctype>
#include <iterator>

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
    mirelo::text::StripUtf8Bom(bytes);
    if (!mirelo::text::IsUtf8(bytes)) return false;
    text = mirelo::Utf8ToWide(bytes);
    return true;
}

namespace {

struct Entry {
    std::wstring number;  // of the line, from 1
    std::wstring key;
    std::wstring_view value;
};
using Problems = std::vector<std::wstring>;

void Bad(Problems& out, const Entry& e, Say want, const std::wstring& fallback) {
    out.push_back(
        Words(Say::kSettingBad, {e.number, e.key, std::wstring(e.value), Words(want), fallback}));
}

// The server listens on 127.0.0.1 only; "localhost" could be tried as ::1 first.
void SetHost(Settings& s, const Entry& e, Problems& out) {
    const std::wstring h = Lower(e.value);
    if (h != L"127.0.0.1" && h != L"localhost")
        out.push_back(Words(Say::kHostNotServed, {e.number, std::wstring(e.value)}));
    s.host = Settings().host;
}

void SetPort(Settings& s, const Entry& e, Problems& out) {
    unsigned long port = 0;
    if (programs::ParseNumber(e.value, 1, 65535, port)) {
        s.port = static_cast<unsigned short>(port);
    } else {
        s.port = Settings().port;
        Bad(out, e, Say::kWantPort, std::to_wstring(s.port));
    }
}

void SetServerFolder(Settings& s, const Entry& e, Problems&) {
    std::wstring& f = s.serverFolder;
    f = e.value;
    while (!f.empty() && (f.back() == L'\\' || f.back() == L'/')) f.pop_back();
    if (f.size() >= 2 && f.front() == L'"' && f.back() == L'"') f = f.substr(1, f.size() - 2);
}

void SetTranslation(Settings& s, const Entry& e, Problems& out) {
    const std::wstring m = Lower(e.value);
    if (m == L"append" || m == L"replace") {
        s.replace = m == L"replace";
    } else {
        s.replace = Settings().replace;
        Bad(out, e, Say::kWantTranslation, L"append");
    }
}

void SetFlag(bool& target, bool fallback, const Entry& e, Problems& out) {
    const int f = Flag(e.value);
    target = f < 0 ? fallback : f == 1;
    if (f < 0) Bad(out, e, Say::kWantFlag, fallback ? L"1" : L"0");
}

void SetSelectedOnly(Settings& s, const Entry& e, Problems& out) {
    SetFlag(s.selectedOnly, Settings().selectedOnly, e, out);
}

void SetClipboard(Settings& s, const Entry& e, Problems& out) {
    SetFlag(s.clipboard, Settings().clipboard, e, out);
}

// Empty keeps the default.
void SetOptions(Settings& s, const Entry& e, Problems& out) {
    bool ok = e.value.empty() || e.value.size() == 2;
    for (wchar_t c : e.value) ok = ok && (c == L'0' || c == L'1');
    s.options = ok && !e.value.empty() ? std::wstring(e.value) : Settings().options;
    if (!ok) Bad(out, e, Say::kWantOptions, s.options);
}

struct Key {
    const wchar_t* name;
    void (*set)(Settings&, const Entry&, Problems&);
};
constexpr Key kKeys[] = {
    {L"host", SetHost},
    {L"port", SetPort},
    {L"server_folder", SetServerFolder},
    {L"translation", SetTranslation},
    {L"selected_thread_only", SetSelectedOnly},
    {L"clipboard", SetClipboard},
    {L"options", SetOptions},
};

}  // namespace

ParsedSettings ParseSettings(std::wstring_view text) {
    ParsedSettings out;
    size_t number = 0;
    while (!text.empty()) {
        const size_t end = text.find(L'\n');
        std::wstring_view line = Trim(text.substr(0, end));
        text = end == std::wstring_view::npos ? std::wstring_view() : text.substr(end + 1);
        ++number;
        if (line.empty() || line.front() == L';' || line.front() == L'#' || line.front() == L'[')
            continue;
        const size_t eq = line.find(L'=');
        if (eq == std::wstring_view::npos) {
            out.problems.push_back(Words(Say::kSettingLine, {std::to_wstring(number)}));
            continue;
        }
        const Entry e{std::to_wstring(number), Lower(Trim(line.substr(0, eq))),
                      Trim(line.substr(eq + 1))};
        const auto key = std::find_if(std::begin(kKeys), std::end(kKeys),
                                      [&](const Key& k) { return e.key == k.name; });
        if (key == std::end(kKeys))
            out.problems.push_back(Words(Say::kSettingUnknown, {e.number, e.key}));
        else
            key->set(out.settings, e, out.problems);
    }
    return out;
}

}  // namespace textractor

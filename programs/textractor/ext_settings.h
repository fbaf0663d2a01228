#pragma once
// The extension's settings: "Mirelo Translate.ini" beside the DLL (its own name with .ini).
// The file is UTF-8 (a byte order mark is allowed) or UTF-16 little-endian with its byte
// order mark. Lines are "name=value"; "[section]" lines, blank lines and lines starting with
// ';' or '#' are skipped. A bad value keeps that setting's default and is reported.

#include <string>
#include <string_view>
#include <vector>

#include "server_address.h"

namespace textractor {

using programs::kDefaultPort;

struct Settings {
    std::wstring host = L"127.0.0.1";  // the only address the server answers on
    unsigned short port = kDefaultPort;
    std::wstring serverFolder;  // empty: the extension's own folder
    bool replace = false;       // false: the translation goes under the sentence
    bool selectedOnly = true;
    bool clipboard = false;
    std::wstring options = L"11";  // --options for a server the extension starts: both clean-ups

    bool SameServer(const Settings& o) const { return host == o.host && port == o.port; }
};

// One line of the console for each problem, already worded.
struct ParsedSettings {
    Settings settings;
    std::vector<std::wstring> problems;
};

// The file's bytes: false when they are neither UTF-8 nor UTF-16 with a byte order mark.
bool DecodeSettingsFile(std::string_view bytes, std::wstring& text);
ParsedSettings ParseSettings(std::wstring_view text);

}  // namespace textractor

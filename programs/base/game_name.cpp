#include "game_name.h"

#include <algorithm>

namespace programs {
namespace {

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        if (n == 0 || (n == 2 && c < 0xC2) || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

// Names Windows keeps for devices, with or without an extension.
bool IsDeviceName(std::string_view folded) {
    const std::string_view stem = folded.substr(0, folded.find('.'));
    static constexpr std::string_view kDevices[] = {"con", "prn", "aux", "nul"};
    if (std::find(std::begin(kDevices), std::end(kDevices), stem) != std::end(kDevices))
        return true;
    return stem.size() == 4 && (stem.substr(0, 3) == "com" || stem.substr(0, 3) == "lpt") &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::optional<std::string> CheckGameName(std::string_view utf8, std::string* why) {
    auto refuse = [why](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (utf8.empty()) return refuse("the game name is empty");
    if (utf8.size() > kGameNameMaxBytes) return refuse("the game name is longer than 64 bytes");
    if (!IsValidUtf8(utf8)) return refuse("the game name is not valid UTF-8");
    if (utf8 == "." || utf8 == "..") return refuse("the game name cannot be . or ..");
    std::string folded;
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F ||
            std::string_view("/\\:*?\"<>|").find(ch) != std::string_view::npos)
            return refuse("the game name holds a character a folder name cannot have");
        folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : ch;
    }
    // Windows drops these from the end of a name: "Game." and "Game" would share a folder.
    if (folded.back() == '.' || folded.back() == ' ' || folded.front() == ' ')
        return refuse("the game name cannot start with a space or end with a dot or a space");
    if (IsDeviceName(folded)) return refuse("the game name is a device name on Windows");
    return folded;
}

std::optional<std::string> GameOfExecutable(std::string_view utf8Path) {
    const std::size_t slash = utf8Path.find_last_of("\\/");
    std::string_view name = slash == std::string_view::npos ? utf8Path : utf8Path.substr(slash + 1);
    if (name.size() > 4) {
        const std::string_view ext = name.substr(name.size() - 4);
        if (ext[0] == '.' && (ext[1] | 0x20) == 'e' && (ext[2] | 0x20) == 'x' &&
            (ext[3] | 0x20) == 'e')
            name.remove_suffix(4);
    }
    return CheckGameName(name);
}

}  // namespace programs

#include "game_name.h"

#include <algorithm>

#include "case_fold.h"
#include "utf8.h"

namespace mirelo::games {
namespace {

// Names Windows keeps for devices. Windows reads the device from the name up to its first dot,
// with spaces before that dot dropped: "nul.tar.gz" and "con .txt" are devices too.
bool IsDeviceName(std::string_view folded) {
    std::string_view stem = folded.substr(0, folded.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    static constexpr std::string_view kDevices[] = {"con", "prn",    "aux",
                                                    "nul", "conin$", "conout$"};
    if (std::find(std::begin(kDevices), std::end(kDevices), stem) != std::end(kDevices))
        return true;
    if (stem.size() < 4 || (stem.substr(0, 3) != "com" && stem.substr(0, 3) != "lpt")) return false;
    // A digit 1 to 9, or the superscripts Windows takes for one too.
    const std::string_view digit = stem.substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

std::optional<std::string> CheckGameName(std::string_view utf8, std::string* why) {
    auto refuse = [why](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (utf8.empty()) return refuse("the game name is empty");
    if (utf8.size() > kGameNameMaxBytes) return refuse("the game name is longer than 64 bytes");
    if (!mirelo::text::IsUtf8(utf8)) return refuse("the game name is not valid UTF-8");
    if (utf8 == "." || utf8 == "..") return refuse("the game name cannot be . or ..");
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F ||
            std::string_view("/\\:*?\"<>|").find(ch) != std::string_view::npos)
            return refuse("the game name holds a character a folder name cannot have");
    }
    // Windows drops these from the end of a name: "Game." and "Game" would share a folder.
    if (utf8.back() == '.' || utf8.back() == ' ' || utf8.front() == ' ')
        return refuse("the game name cannot start with a space or end with a dot or a space");
    std::string folded = FoldCaseUtf8(utf8);
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

}  // namespace mirelo::games

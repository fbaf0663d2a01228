#include "option_string.h"

namespace mirelo {

OptionFlags ParseOptionString(const char* text) {
    OptionFlags flags{};
    flags.removeBrackets = text[0] == '0' ? 0 : 1;
    // The empty text stops here: whatever follows its terminator is not ours.
    flags.removeDupSpaces = text[0] != '\0' && text[1] == '1' ? 1 : 0;
    return flags;
}

void WriteOptionString(OptionFlags flags, char* text) {
    const int32_t brackets = flags.removeBrackets != 0 ? 1 : 0;
    const int32_t spaces = flags.removeDupSpaces != 0 ? 1 : 0;
    text[0] = static_cast<char>('0' + brackets);
    text[1] = static_cast<char>('0' + spaces);
    text[2] = '\0';
    if (brackets == 1 && spaces == 0) text[0] = '\0';
}

}  // namespace mirelo

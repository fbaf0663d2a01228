#include "command_line.h"

namespace programs {

std::vector<std::wstring> RepairStrayQuotes(const std::vector<std::wstring>& argv) {
    std::vector<std::wstring> out;
    for (const std::wstring& arg : argv) {
        const size_t quote = arg.find(L'"');
        if (quote == std::wstring::npos) {
            out.push_back(arg);
            continue;
        }
        // Up to the first quote the user was inside quotes: blanks there belong to the path.
        out.push_back(arg.substr(0, quote) + L'\\');
        std::wstring word;
        for (size_t i = quote + 1; i < arg.size(); ++i) {
            const wchar_t c = arg[i];
            if (c == L'"') {
                out.push_back(word + L'\\');
                word.clear();
            } else if (c == L' ' || c == L'\t') {
                if (!word.empty()) out.push_back(word);
                word.clear();
            } else {
                word.push_back(c);
            }
        }
        if (!word.empty()) out.push_back(word);
    }
    return out;
}

}  // namespace programs

#include "messages.h"

#include <cwctype>

#include "code_pages.h"
#include "program_text.h"

namespace programs {
namespace {

Language g_language = Language::kEnglish;

const MessageEntry* Table(Language language) {
    return language == Language::kKorean ? KoreanMessages() : EnglishMessages();
}

bool ParseLanguage(const std::wstring& value, Language& language) {
    if (value == L"ko") {
        language = Language::kKorean;
        return true;
    }
    if (value == L"en") {
        language = Language::kEnglish;
        return true;
    }
    return false;
}

}  // namespace

Language LanguageOfUi(LANGID ui) {
    return PRIMARYLANGID(ui) == LANG_KOREAN ? Language::kKorean : Language::kEnglish;
}

bool ChooseLanguage(const std::vector<std::wstring>& argv, Language& language) {
    language = LanguageOfUi(GetUserDefaultUILanguage());
    for (std::size_t i = 0; i < argv.size(); ++i) {
        if (argv[i] == L"--lang") {
            if (i + 1 >= argv.size() || !ParseLanguage(argv[i + 1], language)) return false;
            ++i;
        } else if (argv[i].rfind(L"--lang=", 0) == 0) {
            if (!ParseLanguage(argv[i].substr(7), language)) return false;
        }
    }
    return true;
}

void SetLanguage(Language language) {
    g_language = language;
}

Language CurrentLanguage() {
    return g_language;
}

const char* TextIn(Language language, Msg id) {
    const auto i = static_cast<std::size_t>(id);
    return i < kMessageCount ? Table(language)[i].text : "?";
}

const char* Text(Msg id) {
    return TextIn(g_language, id);
}

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> args) {
    return programs::FillPlaces(text, args);
}

std::string Format(Msg id, std::initializer_list<std::string_view> args) {
    return FormatText(Text(id), args);
}

std::string SystemMessage(DWORD code) {
    wchar_t buf[512] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buf, 512, nullptr);
    std::wstring s(buf, n);
    while (!s.empty() && (std::iswspace(s.back()) || s.back() == L'.')) s.pop_back();
    if (s.empty()) return Text(Msg::kUnknownError);
    return mirelo::WideToUtf8(s);
}

}  // namespace programs

// Demo-mode translation: a small game phrase book, kana spelt in Hangul, the rest carried
// from Shift-JIS to CP949, plus the notes and spacing quirks a real engine adds.
#pragma once

#include <string>

namespace standin {

// Shift-JIS in, CP949 out. ASCII bytes (escape markers included) are copied unchanged.
std::string DemoTranslate(const std::string& sjis);

}  // namespace standin

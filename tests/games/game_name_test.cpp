// Game names as clients send them: what may name a folder under the dictionary folder, and the
// name the extension makes of a game's executable.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "case_fold.h"
#include "game_name.h"

namespace {

using mirelo::games::CheckGameName;
using mirelo::games::FoldCase;
using mirelo::games::GameOfExecutable;

TEST(GameName, GoodNamesComeBackWithLettersFoldedAsWindowsComparesThem) {
    const struct {
        const char* given;
        const char* folded;
    } cases[] = {
        {"Alpha", "alpha"},
        {"RPG_Maker Game-2", "rpg_maker game-2"},
        {"\xEA\xB2\x8C\xEC\x9E\x84", "\xEA\xB2\x8C\xEC\x9E\x84"},  // 게임 has no case
        {"\xC3\x84lpha", "\xC3\xA4lpha"},                          // Älpha, älpha
        {"\xC3\xA4LPHA", "\xC3\xA4lpha"},
        {"\xC5\xB8", "\xC3\xBF"},                  // Ÿ (Latin Extended-A) to ÿ (Latin-1)
        {"\xC3\x9F", "\xC3\x9F"},                  // ß has no one-letter capital
        {"\xCE\xA3\xCE\xA9", "\xCF\x83\xCF\x89"},  // ΣΩ
        {"\xCF\x82", "\xCF\x83"},                  // final sigma: Σ is its capital too
        {"\xD0\x96\xD0\x81", "\xD0\xB6\xD1\x91"},  // ЖЁ
        {"\xEF\xBC\xA1", "\xEF\xBD\x81"},          // full-width A
        {"\xC7\x85", "\xC7\x86"},                  // the title-case letter Dž
        {"\xC4\xB0", "\xC4\xB0"},                  // İ: its small letter is not one letter
        {"\xF0\x90\x90\x80", "\xF0\x90\x90\x80"},  // outside the BMP: as it is
        {"con2", "con2"},
        {"console", "console"},
        {"a..b", "a..b"},
        {"com0", "com0"},
        {"lpt10", "lpt10"},
        {"conin", "conin"},
        {"null.txt", "null.txt"},
    };
    for (const auto& c : cases) {
        std::string why = "untouched";
        EXPECT_EQ(CheckGameName(c.given, &why).value_or("<refused: " + why + ">"), c.folded)
            << c.given;
    }
    EXPECT_EQ(CheckGameName(std::string(64, 'x')), std::string(64, 'x'));
}

TEST(GameName, NamesThatCouldLeaveTheFolderOrNameADeviceAreRefusedWithAReason) {
    const std::string cases[] = {
        "",
        "..",
        ".",
        "../x",
        "a/b",
        "a\\b",
        "x:",
        "c:\\x",
        "a*",
        "a?",
        "a|b",
        "<a>",
        "\"a\"",
        "a\tb",
        "a\x7F",
        "Game.",
        "Game ",
        " Game",
        "con",
        "CON",
        "Nul.txt",
        "aux",
        "prn",
        "com1",
        "LPT9",
        "nul.tar.gz",
        "Con.a.b",
        "con .txt",
        "CONIN$",
        "conout$.log",
        "COM\xC2\xB9",
        "lpt\xC2\xB3.x",
        "\xFF",
        "\xC0\x80",
        "\xE3\x81",
        "\xE0\x80\xAF",      // an overlong '/'
        "\xED\xA0\x80",      // a surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
        std::string(65, 'x'),
        std::string("a\0b", 3),
    };
    for (const std::string& name : cases) {
        std::string why;
        EXPECT_EQ(CheckGameName(name, &why), std::nullopt) << name;
        EXPECT_FALSE(why.empty()) << name;
    }
    std::string why;
    CheckGameName("../x", &why);
    EXPECT_NE(why.find("character"), std::string::npos) << why;
    CheckGameName(std::string(65, 'x'), &why);
    EXPECT_NE(why.find("64"), std::string::npos) << why;
    CheckGameName("con", &why);
    EXPECT_NE(why.find("device"), std::string::npos) << why;
}

TEST(GameName, EveryLetterOfTheFoldedScriptsFoldsToALetterThatFoldsToItself) {
    // Letters whose capital is the same are one key: Latin-1 and Latin Extended-A/B, Greek,
    // Cyrillic and full-width pairs, each as Unicode pairs them.
    const struct {
        char32_t capital, small;
    } pairs[] = {{U'A', U'a'},     {0xC0, 0xE0},    {0xDE, 0xFE},   {0x100, 0x101},
                 {0x17D, 0x17E},   {0x1A0, 0x1A1},  {0x1F8, 0x1F9}, {0x391, 0x3B1},
                 {0x3A9, 0x3C9},   {0x410, 0x430},  {0x42F, 0x44F}, {0x400, 0x450},
                 {0x40F, 0x45F},   {0x4D0, 0x4D1},  {0x531, 0x561}, {0x1E00, 0x1E01},
                 {0xFF21, 0xFF41}, {0xFF3A, 0xFF5A}};
    for (const auto& p : pairs) {
        EXPECT_EQ(FoldCase(p.capital), p.small) << std::hex << static_cast<uint32_t>(p.capital);
        EXPECT_EQ(FoldCase(p.small), p.small) << std::hex << static_cast<uint32_t>(p.small);
    }
    // Folding twice changes nothing, and nothing without case moves.
    for (char32_t c = 0; c < 0x10000; ++c)
        ASSERT_EQ(FoldCase(FoldCase(c)), FoldCase(c)) << std::hex << static_cast<uint32_t>(c);
    for (char32_t c : {U'0', U'_', char32_t(0xD7), char32_t(0xF7), char32_t(0x3000),
                       char32_t(0xAC00), char32_t(0xFF10)})
        EXPECT_EQ(FoldCase(c), c) << std::hex << static_cast<uint32_t>(c);
}

TEST(GameName, AnExecutableNamesItsGameWithoutFolderOrExtension) {
    EXPECT_EQ(GameOfExecutable("C:\\Games\\Alpha\\Alpha.EXE"), "alpha");
    EXPECT_EQ(GameOfExecutable("Z:/home/p/Beta Story.exe"), "beta story");
    EXPECT_EQ(GameOfExecutable("D:\\x\\game.exe.bak"), "game.exe.bak");
    EXPECT_EQ(GameOfExecutable("noext"), "noext");
    EXPECT_EQ(GameOfExecutable("C:\\x\\con.exe"), std::nullopt);
    EXPECT_EQ(GameOfExecutable("C:\\x\\"), std::nullopt);
}

}  // namespace

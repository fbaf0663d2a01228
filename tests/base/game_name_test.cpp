// Game names as clients send them: what may name a folder under the dictionary folder, and the
// name the extension makes of a game's executable.
#include <gtest/gtest.h>

#include <string>

#include "game_name.h"

namespace {

using programs::CheckGameName;
using programs::GameOfExecutable;

TEST(GameName, GoodNamesComeBackWithAsciiLettersFolded) {
    const struct {
        const char* given;
        const char* folded;
    } cases[] = {
        {"Alpha", "alpha"},
        {"RPG_Maker Game-2", "rpg_maker game-2"},
        {"\xEA\xB2\x8C\xEC\x9E\x84", "\xEA\xB2\x8C\xEC\x9E\x84"},  // 게임: only ASCII is folded
        {"\xEF\xBC\xA1", "\xEF\xBC\xA1"},                          // fullwidth A stays
        {"con2", "con2"},
        {"console", "console"},
        {"a..b", "a..b"},
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
        "\xFF",
        "\xC0\x80",
        "\xE3\x81",
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

TEST(GameName, AnExecutableNamesItsGameWithoutFolderOrExtension) {
    EXPECT_EQ(GameOfExecutable("C:\\Games\\Alpha\\Alpha.EXE"), "alpha");
    EXPECT_EQ(GameOfExecutable("Z:/home/p/Beta Story.exe"), "beta story");
    EXPECT_EQ(GameOfExecutable("D:\\x\\game.exe.bak"), "game.exe.bak");
    EXPECT_EQ(GameOfExecutable("noext"), "noext");
    EXPECT_EQ(GameOfExecutable("C:\\x\\con.exe"), std::nullopt);
    EXPECT_EQ(GameOfExecutable("C:\\x\\"), std::nullopt);
}

}  // namespace

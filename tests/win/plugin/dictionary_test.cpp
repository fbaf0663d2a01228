// The user dictionary through the real DLL: a copy of Mirelo.dll in a folder of its own,
// so that its MireloDict belongs to this test alone.

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "code_pages.h"
#include "plugin_fixture.h"

using namespace mirelo::test;

namespace {

const std::string kMarker = "_&00000&_";                  // the first name, as the engine sees it
const std::string kMireiGa = "\x94\xFC\x97\xE6\x82\xAA";  // 美玲が in Shift-JIS

struct DictionaryPlugin {
    explicit DictionaryPlugin(const std::string& script) : engine(script), path(engine.Root()) {
        ::CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
        ::CopyFileW((BinDir() + L"\\Mirelo.dll").c_str(), (dir / L"Mirelo.dll").c_str(), FALSE);
    }
    void Write(const std::wstring& name, const std::string& text) {
        ASSERT_TRUE(WriteBytes(dir / (L"MireloDict\\" + name), text));
    }
    int Start() {
        plugin = std::make_unique<Plugin>(dir / L"Mirelo.dll");
        return plugin->Loaded() ? plugin->init(host.get(), options) : 0;
    }
    std::string Translate(const std::string& line) {
        std::string result;
        EXPECT_EQ(1, plugin->TranslateText(line, result));
        return result;
    }
    ~DictionaryPlugin() {
        if (plugin) plugin->close();
    }

    TempDir dir;
    EngineFolder engine;
    InstallKey path;
    HostWindow host;
    char options[16] = "";
    std::unique_ptr<Plugin> plugin;
};

// The engine answers the protected name with the particle a vowel takes (가).
std::string NameScript() {
    return Scripted("map " + Hex(kMarker + "\x82\xAA") + " " +
                    Hex(kMarker + "\xB0\xA1 \xBF\xD4\xB4\xD9") + "\n");
}

TEST(Dictionary, NameComesBackWholeAndAChangedFileIsPickedUpWithTheCacheEmptied) {
    DictionaryPlugin run(NameScript());
    run.Write(L"names.txt", "\xEF\xBB\xBFname\t美玲\t민준\tthe heroine\r\n");
    ASSERT_EQ(1, run.Start());
    EXPECT_EQ(Hex("\xB9\xCE\xC1\xD8\xC0\xCC \xBF\xD4\xB4\xD9"),
              Hex(run.Translate(kMireiGa)));  // 민준이 왔다

    run.Write(L"names.txt", "name\t美玲\t나\n");
    ::Sleep(1100);
    EXPECT_EQ(Hex("\xB3\xAA\xB0\xA1 \xBF\xD4\xB4\xD9"), Hex(run.Translate(kMireiGa)));  // 나가 왔다
    EXPECT_EQ(2u, run.engine.LogLines("translate ").size());
}

TEST(Dictionary, BrokenLinesAndFilesLeaveTheGoodEntriesWorking) {
    DictionaryPlugin run(NameScript());
    run.Write(L"a.txt",
              "name\t美玲\n"        // too few columns
              "nom\tx\ty\n"         // unknown kind
              "pre\t\xFF\xFE\tx\n"  // not UTF-8
              "name\t美玲\t민준\n"
              "post\t 왔다\t\xF0\x9F\x98\x80\n");  // no CP949 form
    run.Write(L"b.txt", "post\t왔다\t갔다\n");
    run.Write(L"c.off", "name\t美玲\t나\n");  // switched off
    ASSERT_EQ(1, run.Start());
    EXPECT_EQ(Hex("\xB9\xCE\xC1\xD8\xC0\xCC \xB0\xAC\xB4\xD9"),
              Hex(run.Translate(kMireiGa)));  // 민준이 갔다
}

// An editor's save: the file cut to nothing, its first line, and 100 ms later the second.
// Translating all the while, every answer comes from the old dictionary or from the whole
// new file, never from the empty or half-written one, and the whole file is taken in the end.
TEST(Dictionary, AFileCaughtMidSaveIsNeverUsedHalfWritten) {
    DictionaryPlugin run(NameScript());
    run.Write(L"names.txt", "name\t美玲\t민준\n");
    ASSERT_EQ(1, run.Start());
    const std::string before = Hex("\xB9\xCE\xC1\xD8\xC0\xCC \xBF\xD4\xB4\xD9");  // 민준이 왔다
    const std::string whole = Hex("\xB3\xAA\xB0\xA1 \xB0\xAC\xB4\xD9");           // 나가 갔다
    EXPECT_EQ(before, Hex(run.Translate(kMireiGa)));
    // Long enough that the folder is due a look at the very next line.
    ::Sleep(1100);

    std::vector<std::string> answers;
    auto translateFor = [&](DWORD ms) {
        const ULONGLONG end = ::GetTickCount64() + ms;
        do {
            answers.push_back(Hex(run.Translate(kMireiGa)));
        } while (::GetTickCount64() < end);
    };
    HANDLE file = ::CreateFileW((run.dir / L"MireloDict\\names.txt").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    translateFor(30);
    auto write = [&](const std::string& part) {
        DWORD written = 0;
        EXPECT_TRUE(
            ::WriteFile(file, part.data(), static_cast<DWORD>(part.size()), &written, nullptr));
    };
    write("name\t美玲\t나\n");  // alone: 나가 왔다
    translateFor(100);
    write("post\t왔다\t갔다\n");
    ::CloseHandle(file);
    translateFor(1000);
    const ULONGLONG deadline = ::GetTickCount64() + 2000;
    while (answers.back() != whole && ::GetTickCount64() < deadline) translateFor(50);

    for (size_t k = 0; k < answers.size(); ++k) {
        EXPECT_TRUE(answers[k] == before || answers[k] == whole)
            << "answer " << k << " of " << answers.size() << ": " << answers[k];
    }
    EXPECT_EQ(whole, answers.back());
}

// Without dictionary files the demo lines come out byte for byte as from the plain DLL.
TEST(Dictionary, AFolderWithoutDictionaryFilesChangesNothing) {
    const std::string lines[] = {"\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD",  // こんにちは
                                 "\x96\xBC\x8E\x67(\x8E\x77)\x81\x69\x8C\x95\x81\x6A: ok  ,",
                                 kMireiGa};
    std::string plain[3];
    {
        RunningPlugin run("");
        ASSERT_EQ(1, run.initResult);
        for (int k = 0; k < 3; ++k) ASSERT_EQ(1, run.plugin.TranslateText(lines[k], plain[k]));
    }
    DictionaryPlugin run("");
    run.Write(L"names.off", "name\t美玲\t민준\n");
    ASSERT_EQ(1, run.Start());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(Hex(plain[k]), Hex(run.Translate(lines[k]))) << k;
}

// The engine crashed on what the dictionary made of a line; a fixed entry sends the line
// differently, and that text reaches the engine. An unrelated change does not send the
// crashing text again.
TEST(Dictionary, AFixedEntryReachesALineTheEngineOnceCrashedOn) {
    DictionaryPlugin run(Scripted("fault translate " + Hex("bad") + " read\nmap " + Hex("fine") +
                                  " " + Hex("FINE") + "\n"));
    run.Write(L"pre.txt", "pre\tline\tbad\n");
    ASSERT_EQ(1, run.Start());
    // What TranslateText leaves in a buffer Translate did not write.
    auto untouched = [](const std::string& r) { return r == std::string(4095, '\x7f'); };
    for (int round = 0; round < 2; ++round) EXPECT_TRUE(untouched(run.Translate("line")));

    run.Write(L"pre.txt", "pre\tline\tbad\npre\tother\tthing\n");
    ::Sleep(1100);
    EXPECT_TRUE(untouched(run.Translate("line")));
    EXPECT_EQ(1u, run.engine.LogLines("translate arg=0 in=" + Hex("bad") + " ").size());

    run.Write(L"pre.txt", "pre\tline\tfine\n");
    ::Sleep(1100);
    EXPECT_EQ("FINE", run.Translate("line"));
    EXPECT_EQ(1u, run.engine.LogLines("translate arg=0 in=" + Hex("fine") + " ").size());
}

const std::string kHello = "\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD";     // こんにちは
const std::string kAnnyeong = "\xBE\xC8\xB3\xE7\xC7\xCF\xBC\xBC\xBF\xE4";  // 안녕하세요

// The engine's answers, for the line and for one that only starts with it.
std::string HelloScript() {
    return Scripted("map " + Hex(kHello) + " " + Hex("ENGINE") + "\nmap " +
                    Hex(kHello + "\x82\xB3\x82\xF1") + " " + Hex("LONGER") + "\n");
}

// A correction answers its whole line without the engine, keeping the line's own ending;
// a line that only starts with it, or that has something before it, is the engine's.
TEST(Dictionary, ALineEntryAnswersItsWholeLineAndNoOther) {
    DictionaryPlugin run(HelloScript());
    run.Write(L"corrections.txt", "line\tこんにちは\t안녕하세요\n");
    ASSERT_EQ(1, run.Start());
    EXPECT_EQ(Hex(kAnnyeong), Hex(run.Translate(kHello)));
    EXPECT_EQ(Hex(kAnnyeong + "\r\n"), Hex(run.Translate(kHello + " \r\n")));
    EXPECT_EQ(0u, run.engine.LogLines("translate ").size());
    EXPECT_EQ("LONGER", run.Translate(kHello + "\x82\xB3\x82\xF1"));  // こんにちはさん
    EXPECT_EQ(1u, run.engine.LogLines("translate ").size());
}

// A correction written while the game runs: the line answered from the cache before is
// answered by the entry as soon as the folder is read again, within the second the guide
// promises; taking the entry out gives the engine's answer back.
TEST(Dictionary, ACorrectionWrittenWhileRunningBeatsTheCachedAnswerWithinASecond) {
    DictionaryPlugin run(HelloScript());
    run.Write(L"corrections.txt", "# none yet\n");
    ASSERT_EQ(1, run.Start());
    for (int round = 0; round < 2; ++round) EXPECT_EQ("ENGINE", run.Translate(kHello));
    EXPECT_EQ(1u, run.engine.LogLines("translate ").size());  // the second from the cache
    ::Sleep(1100);                                            // the start-up's read is behind us

    // Polls until `answer` comes; the milliseconds from the write, or -1 after three seconds.
    auto msUntil = [&](const std::string& answer) -> long {
        const ULONGLONG start = ::GetTickCount64();
        do {
            if (run.Translate(kHello) == answer)
                return static_cast<long>(::GetTickCount64() - start);
            ::Sleep(20);
        } while (::GetTickCount64() - start < 3000);
        return -1;
    };
    run.Write(L"corrections.txt", "line\tこんにちは\t안녕하세요\n");
    const long corrected = msUntil(kAnnyeong);
    EXPECT_GE(corrected, 0);
    EXPECT_LE(corrected, 1000);

    run.Write(L"corrections.txt", "# taken out\n");
    const long restored = msUntil("ENGINE");
    EXPECT_GE(restored, 0);
    EXPECT_LE(restored, 1000);
}

// A game's subfolder: the classic host never reads it, while a plug-in whose process names the
// game (a server worker for it) has the game's entries win over the common ones with the same
// source and keeps the common entries the game does not replace.
TEST(Dictionary, AGamesFolderIsReadOnlyWhereTheProcessNamesThatGame) {
    struct GameVariable {
        ~GameVariable() { ::SetEnvironmentVariableW(L"MIRELO_GAME", nullptr); }
    } restore;
    DictionaryPlugin run(HelloScript());
    run.Write(L"corrections.txt", "line\tこんにちは\t안녕하세요\nline\tこんにちはさん\tCOMMON\n");
    ASSERT_TRUE(::CreateDirectoryW((run.dir / L"MireloDict\\Alpha").c_str(), nullptr));
    run.Write(L"Alpha\\corrections.txt", "line\tこんにちは\tALPHA\n");
    const std::string kHelloSan = kHello + "\x82\xB3\x82\xF1";

    const struct {
        const wchar_t* game;  // null: the classic host, which sets nothing
        const std::string hello;
    } cases[] = {
        {nullptr, kAnnyeong},      {L"ALPHA", "ALPHA"},  // folded as Windows compares folder names
        {L"Beta", kAnnyeong},                            // a game without a folder of its own
        {L"..\\Alpha", kAnnyeong}, {L"Alpha\\..", kAnnyeong},
    };
    for (const auto& c : cases) {
        ::SetEnvironmentVariableW(L"MIRELO_GAME", c.game);
        ASSERT_EQ(1, run.Start());
        EXPECT_EQ(Hex(c.hello), Hex(run.Translate(kHello))) << (c.game ? "game" : "classic");
        EXPECT_EQ("COMMON", run.Translate(kHelloSan));
        run.plugin->close();
        run.plugin.reset();
    }
    EXPECT_EQ(0u, run.engine.LogLines("translate ").size());
}

}  // namespace

// Pattern entries as the guide shows them, through the DLL: the engine echoes what it was
// sent, so the answer is the line as the pre-re entries made it; post-re entries then
// rewrite the engine's answer. Literal entries see what pre-re made, post-re what post made.
TEST(Dictionary, PatternEntriesOfTheGuide) {
    DictionaryPlugin run(
        Scripted("map " + Hex("X") + " " + Hex(mirelo::EncodeLossy(949, "미레이：가자 !")) + "\n"));
    run.Write(L"patterns.txt",
              "pre-re\t《[^》]*》\t\n"
              "pre-re\t^【([^】]+)】\t$1：\n"
              "pre-re\t\\\\[nN]\\[1\\]\tミレイ\n"
              "pre-re\t#c\\([^)]*\\)\t\n"
              "pre-re\t\\{i\\}\t\n"
              "pre-re\t(.)\\1\t$1\n"
              "post-re\t\\s+([.,!?])\t$1\n"
              "post-re\t^(.+?)：\t[$1] \n"
              "pre\t勇者が\t勇者は\n"
              "post\t가자\t갑시다\n"
              "post-re\t갑시다\t가십시다\n");
    ASSERT_EQ(1, run.Start());
    const struct {
        const char* source;
        const char* sent;
    } cases[] = {
        {"勇者《ゆうしゃ》が現れた", "勇者は現れた"},
        {"【ミレイ】「行くよ」", "ミレイ：「行くよ」"},
        {"\\n[1]は#c(赤)危険{i}だ", "ミレイは危険だ"},
        {"ここんんににちちはは", "こんにちは"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Hex(mirelo::EncodeLossy(932, c.sent)),
                  Hex(run.Translate(mirelo::EncodeLossy(932, c.source))))
            << c.source;
    }
    EXPECT_EQ(Hex(mirelo::EncodeLossy(949, "[미레이] 가십시다!")), Hex(run.Translate("X")));
}

// A pattern that would run away on a long line is left out for that line; the line is
// translated with the other entries, and a pattern that does not compile changes nothing.
TEST(Dictionary, RunawayAndBrokenPatternsLeaveTheLineTranslated) {
    DictionaryPlugin run("");
    run.Write(L"patterns.txt", "pre-re\t(a+)+$\tX\npre-re\t(abc\tY\npre-re\t!\t?\n");
    ASSERT_EQ(1, run.Start());
    // The longest line the plug-in takes is 4096 bytes.
    const std::string as(4000, 'a');
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(as + "?", run.Translate(as + "!"));
    EXPECT_LT(::GetTickCount64() - start, 5000u);
    EXPECT_EQ("X", run.Translate("aaa"));
    EXPECT_EQ("(abc?", run.Translate("(abc!"));
}

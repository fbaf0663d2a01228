// mirelo-host's dictionary options: --check-dict's report and exit code, and --trace.
#include <gtest/gtest.h>

#include "code_pages.h"
#include "host_args.h"
#include "test_support.h"

using namespace mirelo::test;
using namespace tooltest;

namespace {

std::wstring HostExe() {
    return BinDir() + L"\\mirelo-host.exe";
}

TEST(HostDictionaryArgs, FolderIsInlineOrThePlainArgument) {
    EXPECT_EQ(host::ParseArgs({L"--check-dict", L"D"}).args.dictFolder, L"D");
    EXPECT_EQ(host::ParseArgs({L"--check-dict=D"}).args.dictFolder, L"D");
    const auto none = host::ParseArgs({L"--check-dict"}).args;
    EXPECT_TRUE(none.checkDict && none.dictFolder.empty() && !none.inputGiven);
    EXPECT_FALSE(host::ParseArgs({L"--check-dict=D", L"E"}).error.empty());
    EXPECT_FALSE(host::ParseArgs({L"--trace=1"}).error.empty());
}

TEST(HostDictionary, CheckReportsEachProblemAndFailsOnAny) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "name\t\xE3\x83\x9F\t\xEB\xAF\xB8\npre\tx\n"));
    ASSERT_TRUE(WriteBytes(dir / L"b.off", "broken\n"));
    auto r = RunProcess(HostExe(), {L"--check-dict", dir.path()}, "");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitDictionary));
    EXPECT_NE(r.out.find("a.txt:2: expected KIND<TAB>FROM<TAB>TO, found 2 columns\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("entries in use: name 1, pre 0, post 0"), std::string::npos) << r.out;

    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "name\t\xE3\x83\x9F\t\xEB\xAF\xB8\n"));
    r = RunProcess(HostExe(), {L"--check-dict", dir.path()}, "");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitOk)) << r.out;

    r = RunProcess(HostExe(), {L"--check-dict", dir / L"none"}, "");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitDictionary));
}

TEST(HostDictionary, TraceNamesTheEntriesThatFired) {
    TempDir dir;
    ASSERT_TRUE(
        CopyFileW((BinDir() + L"\\fake_plugin.dll").c_str(), (dir / L"plugin.dll").c_str(), FALSE));
    CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
    // pre あ -> い, then name ミ -> 미 on the line the pre pass made.
    ASSERT_TRUE(WriteBytes(dir / L"MireloDict\\d.txt",
                           "pre\t\xE3\x81\x82\t\xE3\x81\x84\n"
                           "name\t\xE3\x83\x9F\t\xEB\xAF\xB8\n"));
    const auto r = RunProcess(HostExe(), {L"--plugin", dir / L"plugin.dll", L"--trace"},
                              "\xE3\x81\x82\xE3\x83\x9F\nzzz\n");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.err.find("line 1: pre d.txt:1: \xE3\x81\x82 \xE2\x86\x92 \xE3\x81\x84"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("line 1: name d.txt:2: \xE3\x83\x9F \xE2\x86\x92 \xEB\xAF\xB8"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("line 2:"), std::string::npos) << r.err;
}

// A line entry with a written \n and one given again are named (repeats once the file has
// been read), line entries are counted, and a line answered by a line entry is traced to
// it alone.
TEST(HostDictionary, LineEntriesAreCheckedCountedAndTraced) {
    TempDir dir;
    ASSERT_TRUE(
        CopyFileW((BinDir() + L"\\fake_plugin.dll").c_str(), (dir / L"plugin.dll").c_str(), FALSE));
    CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(dir / L"MireloDict\\d.txt",
                           "line\tこんにちは\t안녕\n"
                           "line\t一行目\\n二行目\t두 줄\n"
                           "pre\tこ\tか\n"
                           "line\tこんにちは \t안녕하세요\n"));
    auto r = RunProcess(HostExe(), {L"--check-dict", dir / L"MireloDict"}, "");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitDictionary));
    EXPECT_EQ(r.out,
              "d.txt:2: FROM holds \\n, which is not a line break here: a line entry answers "
              "one line\n"
              "d.txt:1: the same line is given again at d.txt:4, which is used instead\n" +
                  Narrow(dir / L"MireloDict") +
                  ": 1 file(s); entries in use: name 0, pre 1, post 0, line 1\n");

    r = RunProcess(HostExe(), {L"--plugin", dir / L"plugin.dll", L"--trace"},
                   "こんにちは\nこんばんは\n");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.err.find("name 0, pre 1, post 0, line 1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 1: line d.txt:4: こんにちは \xE2\x86\x92 안녕하세요\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("line 1: pre"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 2: pre d.txt:3: こ \xE2\x86\x92 か\n"), std::string::npos) << r.err;
}

// Pattern entries: one that does not compile is named with its file, line and character,
// the kinds are counted, and a trace shows what each replaced or that it was left out.
TEST(HostDictionary, PatternEntriesAreCheckedCountedAndTraced) {
    TempDir dir;
    ASSERT_TRUE(
        CopyFileW((BinDir() + L"\\fake_plugin.dll").c_str(), (dir / L"plugin.dll").c_str(), FALSE));
    CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(dir / L"MireloDict\\d.txt",
                           "pre-re\t《[^》]*》\t\n"
                           "pre-re\t《(abc\tx\n"
                           "post-re\t!\t.\n"
                           "pre-re\t(a+)+$\tX\n"));
    auto r = RunProcess(HostExe(), {L"--check-dict", dir / L"MireloDict"}, "");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitDictionary));
    EXPECT_EQ(r.out.rfind("d.txt:2: the pattern fails at character 6: ", 0), 0u) << r.out;
    const std::string summary = Narrow(dir / L"MireloDict") +
                                ": 1 file(s); entries in use: name 0, pre 0, post 0, pre-re 2, "
                                "post-re 1\n";
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), summary) << r.out;
    r = RunProcess(HostExe(), {L"--lang", L"ko", L"--check-dict", dir / L"MireloDict"}, "");
    EXPECT_EQ(r.out.rfind("d.txt:2: 패턴의 6번째 글자에서 문법이 틀렸습니다: ", 0), 0u) << r.out;

    std::string input = "勇者《ゆうしゃ》と《まおう》\n";
    input.append(10000, 'a');
    input += "!\n";
    r = RunProcess(HostExe(), {L"--plugin", dir / L"plugin.dll", L"--trace"}, input);
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.err.find("pre-re 2, post-re 1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 1: pre-re d.txt:1: 《[^》]*》 \xE2\x86\x92  (replaced "
                         "\"《ゆうしゃ》\" \xE2\x86\x92 \"\", \"《まおう》\" \xE2\x86\x92 \"\")\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("line 2: pre-re d.txt:4: (a+)+$ \xE2\x86\x92 X (left out for this line: "
                         "its search took too many steps)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("line 1: pre-re d.txt:4"), std::string::npos) << r.err;
}

// The trace runs `pre` entries on the line the pattern entries made, as the plug-in does.
TEST(HostDictionary, TraceRunsPreOnWhatThePatternsMade) {
    TempDir dir;
    ASSERT_TRUE(
        CopyFileW((BinDir() + L"\\fake_plugin.dll").c_str(), (dir / L"plugin.dll").c_str(), FALSE));
    CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
    ASSERT_TRUE(
        WriteBytes(dir / L"MireloDict\\d.txt", "pre-re\t《[^》]*》\t\npre\t者と\tX\npre\t《\tY\n"));
    const auto r = RunProcess(HostExe(), {L"--plugin", dir / L"plugin.dll", L"--trace"},
                              "勇者《ゆうしゃ》と\n");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.err.find("line 1: pre d.txt:2: 者と \xE2\x86\x92 X\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("line 1: pre d.txt:3"), std::string::npos) << r.err;
}

// A game's view: its subfolder read on top of the common files, every entry in use listed
// with the file, and so the folder, it came from. A game's line replacing a common one is what
// the folder is for, not a problem; the common view stays as it was.
TEST(HostDictionary, AGamesViewMergesItsFolderOverTheCommonOne) {
    TempDir dir;
    ASSERT_TRUE(
        CopyFileW((BinDir() + L"\\fake_plugin.dll").c_str(), (dir / L"plugin.dll").c_str(), FALSE));
    CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
    CreateDirectoryW((dir / L"MireloDict\\Alpha").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(dir / L"MireloDict\\d.txt", "line\tこんにちは\t안녕\npre\tこ\tか\n"));
    ASSERT_TRUE(WriteBytes(dir / L"MireloDict\\Alpha\\d.txt", "line\tこんにちは\t알파\n"));
    const std::string folder = Narrow(dir / L"MireloDict");

    auto r = RunProcess(HostExe(), {L"--check-dict", dir / L"MireloDict", L"--game", L"ALPHA"}, "");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitOk)) << r.out;
    EXPECT_EQ(r.out,
              "pre d.txt:2: こ \xE2\x86\x92 か\n"
              "line alpha\\d.txt:1: こんにちは \xE2\x86\x92 알파\n" +
                  folder +
                  " + alpha\\: 2 file(s); entries in use: name 0, pre 1, post 0, line 1\n");
    r = RunProcess(HostExe(), {L"--check-dict", dir / L"MireloDict"}, "");
    EXPECT_EQ(r.out, folder + ": 1 file(s); entries in use: name 0, pre 1, post 0, line 1\n");

    r = RunProcess(HostExe(), {L"--plugin", dir / L"plugin.dll", L"--trace", L"--game=alpha"},
                   "こんにちは\n");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_NE(r.err.find("line 1: line alpha\\d.txt:1: こんにちは \xE2\x86\x92 알파\n"),
              std::string::npos)
        << r.err;

    for (const wchar_t* bad : {L"../x", L"a/b", L"con"}) {
        r = RunProcess(HostExe(), {L"--check-dict", dir / L"MireloDict", L"--game", bad}, "");
        EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitUsage)) << Narrow(bad);
        EXPECT_NE(r.err.find("--game"), std::string::npos) << r.err;
    }
}

// A dictionary file saved by Notepad as "Unicode" (UTF-16) or "ANSI" (CP949 on Korean
// Windows): one reason for the file, not one for each line or a line it does not have.
TEST(HostDictionary, AFileInAnotherEncodingGetsOneReason) {
    TempDir dir;
    // name ミレイ 미레이, then post 좋은 아침 안녕, in UTF-16 LE with its mark.
    const std::wstring text =
        L"\uFEFFname\t\u30DF\u30EC\u30A4\t\uBBF8\uB808\uC774\r\n"
        L"post\t\uC88B\uC740 \uC544\uCE68\t\uC548\uB155\r\n";
    const std::string utf16(reinterpret_cast<const char*>(text.data()), text.size() * 2);
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", utf16));
    ASSERT_TRUE(WriteBytes(dir / L"b.txt",
                           "name\t\xAB\xDF\xAB\xEC\xAB\xA4\t\xB9\xCC\xB7\xB9\xC0\xCC\r\n"
                           "post\t\xC1\xC1\xC0\xBA \xBE\xC6\xC4\xA7\t\xBE\xC8\xB3\xE7\r\n"));
    ASSERT_TRUE(WriteBytes(dir / L"c.txt", "name\t\xE3\x83\x9F\t\xEB\xAF\xB8\n"));
    auto r = RunProcess(HostExe(), {L"--check-dict", dir.path()}, "");
    EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitDictionary));
    EXPECT_EQ(r.out,
              "a.txt: this file looks like UTF-16; save it as UTF-8\n"
              "b.txt: this file looks like CP949; save it as UTF-8\n" +
                  Narrow(dir.path()) + ": 3 file(s); entries in use: name 1, pre 0, post 0\n");

    r = RunProcess(HostExe(), {L"--lang", L"ko", L"--check-dict", dir.path()}, "");
    EXPECT_EQ(r.out,
              "a.txt: 이 파일은 UTF-16으로 보입니다. UTF-8로 저장하십시오\n"
              "b.txt: 이 파일은 CP949(ANSI)로 보입니다. UTF-8로 저장하십시오\n" +
                  Narrow(dir.path()) + ": 파일 3개, 쓰이는 항목: name 1, pre 0, post 0\n");
}

std::string InCp949(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(mirelo::EncodeExactly(mirelo::kCp949CodePage, utf8, out)) << utf8;
    return out;
}

// --output-encoding covers standard error too: a file of both streams is in one encoding.
TEST(HostDictionary, BothStreamsTakeTheOutputEncoding) {
    TempDir dir;
    ASSERT_TRUE(
        CopyFileW((BinDir() + L"\\fake_plugin.dll").c_str(), (dir / L"plugin.dll").c_str(), FALSE));
    CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(dir / L"MireloDict\\d.txt", "name\t\xE3\x83\x9F\t\xEB\xAF\xB8\n"));
    const std::string fired =
        "1번째 줄: name d.txt:1: ミ → 미 (결과에 없음: 엔진이 이름을 빠뜨렸습니다)\n";
    const struct {
        const wchar_t* encoding;
        std::string out;
        std::string err;
    } cases[] = {
        {L"cp949", "\xAB\xDF\n", InCp949("mirelo-host: 추적: " + fired)},
        {L"utf8", "\xE3\x83\x9F\n", "mirelo-host: 추적: " + fired},
    };
    for (const auto& c : cases) {
        const auto r = RunProcess(HostExe(),
                                  {L"--plugin", dir / L"plugin.dll", L"--trace", L"--lang", L"ko",
                                   L"--output-encoding", c.encoding},
                                  "\xE3\x83\x9F\n");
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << Hex(r.err);
    }
    const auto check = RunProcess(
        HostExe(),
        {L"--lang", L"ko", L"--output-encoding", L"cp949", L"--check-dict", dir / L"none"}, "");
    EXPECT_EQ(check.out, InCp949(Narrow(dir / L"none") + ": 그런 폴더가 없습니다\n"));
}

}  // namespace

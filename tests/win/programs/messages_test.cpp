// The programs' two message tables, the choice between them, and how text reaches the
// standard streams.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "code_pages.h"
#include "diagnose.h"
#include "dialog_watch.h"
#include "dictionary_folder_win.h"
#include "dictionary_tools.h"
#include "host_args.h"
#include "messages.h"
#include "test_support.h"
#include "text_output.h"
#include "utf8.h"

using namespace mirelo::test;
using namespace host;
using namespace programs;

namespace {

// Sets the messages' language for one test and puts English back.
class InLanguage {
  public:
    explicit InLanguage(Language l) { SetLanguage(l); }
    ~InLanguage() { SetLanguage(Language::kEnglish); }
};

std::set<std::string> Placeholders(std::string_view text) {
    std::set<std::string> found;
    for (std::size_t i = 0; i + 2 < text.size(); ++i)
        if (text[i] == '{' && text[i + 1] >= '0' && text[i + 1] <= '9' && text[i + 2] == '}')
            found.insert(std::string(text.substr(i, 3)));
    return found;
}

bool HasHangul(std::string_view utf8) {
    for (wchar_t c : mirelo::Utf8ToWide(utf8))
        if (c >= 0xAC00 && c <= 0xD7A3) return true;
    return false;
}

TEST(Messages, BothTablesHoldEveryMessageWithTheSameDetails) {
    // Texts that are only a layout of their details, the same in every language.
    const std::set<Msg> layouts = {Msg::kDictProblem, Msg::kDictFileProblem, Msg::kDiagValue,
                                   Msg::kDictPatternCounts};
    for (std::size_t i = 0; i < kMessageCount; ++i) {
        const auto id = static_cast<Msg>(i);
        const std::string en = TextIn(Language::kEnglish, id);
        const std::string ko = TextIn(Language::kKorean, id);
        ASSERT_EQ(EnglishMessages()[i].id, id) << i;
        ASSERT_EQ(KoreanMessages()[i].id, id) << i;
        EXPECT_FALSE(en.empty()) << i;
        EXPECT_EQ(Placeholders(en), Placeholders(ko)) << i << ": " << en;
        EXPECT_TRUE(mirelo::text::IsUtf8(ko)) << i;
        if (layouts.count(id)) continue;
        EXPECT_FALSE(HasHangul(en)) << i << ": " << en;
        EXPECT_TRUE(HasHangul(ko)) << i << " is not Korean: " << ko;
    }
}

TEST(Messages, KoreanForAKoreanDisplayLanguageUnlessTheCommandLineSays) {
    EXPECT_EQ(LanguageOfUi(MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)), Language::kKorean);
    EXPECT_EQ(LanguageOfUi(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), Language::kEnglish);
    EXPECT_EQ(LanguageOfUi(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)), Language::kEnglish);

    const struct {
        std::vector<std::wstring> argv;
        bool good;
        Language language;
    } cases[] = {
        {{L"--lang", L"ko"}, true, Language::kKorean},
        {{L"--lang=ko", L"x.txt"}, true, Language::kKorean},
        {{L"--lang", L"ko", L"--lang", L"en"}, true, Language::kEnglish},
        {{L"--lang", L"kr"}, false, Language::kEnglish},
        {{L"--lang"}, false, Language::kEnglish},
    };
    for (const auto& c : cases) {
        Language got = Language::kEnglish;
        EXPECT_EQ(ChooseLanguage(c.argv, got), c.good) << tooltest::Narrow(c.argv[0]);
        if (c.good) {
            EXPECT_EQ(got, c.language) << tooltest::Narrow(c.argv[0]);
        }
    }
    EXPECT_FALSE(ParseArgs({L"--lang", L"ko", L"in.txt"}).args.help);
    EXPECT_EQ(ParseArgs({L"--lang", L"ko", L"in.txt"}).args.inputFile, L"in.txt");
    EXPECT_FALSE(ParseArgs({L"--lang", L"de"}).error.empty());
}

TEST(Messages, DetailsFillTheirPlacesInEitherLanguage) {
    EXPECT_EQ(FormatText("{1} and {0}, {2}", {"a", "b"}), "b and a, {2}");
    // Braces that are not a place stay, as in the help text's JSON.
    EXPECT_EQ(FormatText("{\"text\": {0}}", {"1"}), "{\"text\": 1}");
    {
        const InLanguage english(Language::kEnglish);
        EXPECT_EQ(Format(Msg::kLineWarning, {"3", "x"}), "warning: line 3: x");
        EXPECT_EQ(Format(Msg::kListenInUse, {"127.0.0.1", "80", "81"}),
                  "cannot listen on 127.0.0.1:80: another program (another mirelo-server, "
                  "perhaps) has taken this port; pick another one with --port, e.g. "
                  "mirelo-server --port 81");
    }
    const InLanguage korean(Language::kKorean);
    EXPECT_EQ(Format(Msg::kLineWarning, {"3", "x"}), "경고: 3번째 줄: x");
    EXPECT_EQ(ParseArgs({L"--dest-size", L"0"}).error,
              "--dest-size는 1부터 16777216까지의 정수입니다");
}

// Every kind of problem the dictionary reads, as the programs word it: in English exactly the
// core's own reason, in Korean a sentence of its own holding the same details.
TEST(Messages, DictionaryReasonsInBothLanguages) {
    TempDir dir;
    const struct {
        std::string line;
        std::vector<std::string> details;
    } cases[] = {
        {"name\t\xE3\x83\x9F", {"2"}},
        {"name", {}},
        {"Nme\t\xE3\x83\x9F\tx", {"Nme"}},
        {"pre\t\tx", {}},
        {"name\t\xE3\x83\x9F\t", {}},
        {"pre\tx\t\xE2\x99\xA5", {"U+2665", "Shift-JIS"}},  // ♥
        {"pre\t\xFF\tx", {}},
        {std::string("pre\ta\0b\tc", 9), {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteBytes(dir / L"d.txt", c.line + "\n"));
        const auto loaded = mirelo::dict::LoadFolder(dir.path());
        ASSERT_EQ(loaded.problems.size(), 1u) << c.line;
        const mirelo::dict::Problem& p = loaded.problems[0];
        EXPECT_NE(p.kind, mirelo::dict::ProblemKind::kOther) << c.line;
        EXPECT_EQ(DescribeReason(p), p.reason);
        EXPECT_EQ(DescribeProblem(p), "d.txt:1: " + p.reason);
        const InLanguage korean(Language::kKorean);
        const std::string ko = DescribeProblem(p);
        EXPECT_TRUE(HasHangul(ko)) << ko;
        EXPECT_EQ(ko.rfind("d.txt:1: ", 0), 0u) << ko;
        for (const std::string& d : c.details) EXPECT_NE(ko.find(d), std::string::npos) << ko;
    }
    // A file in another encoding: one problem for the file, named without a line.
    ASSERT_TRUE(WriteBytes(dir / L"d.txt", "\xFF\xFEp\0r\0e\0\t\0A\0\t\0B\0"));
    const auto loaded = mirelo::dict::LoadFolder(dir.path());
    ASSERT_EQ(loaded.problems.size(), 1u);
    EXPECT_EQ(DescribeProblem(loaded.problems[0]),
              "d.txt: this file looks like UTF-16; save it as UTF-8");
    const InLanguage korean(Language::kKorean);
    EXPECT_EQ(DescribeProblem(loaded.problems[0]),
              "d.txt: 이 파일은 UTF-16으로 보입니다. UTF-8로 저장하십시오");
}

TEST(Messages, LabelsLineUpByTheColumnsTheyTakeOnAConsole) {
    EXPECT_EQ(DisplayWidth("Exports:"), 8u);
    EXPECT_EQ(DisplayWidth("\xEC\xA0\x95 x"), 4u);            // 정 takes two
    EXPECT_EQ(DisplayWidth("\xE3\x81\x82\xEF\xBC\xA1"), 4u);  // あＡ
    EXPECT_EQ(DisplayWidth("\xF0\x9F\x98\x80"), 1u);          // one character, however stored
}

// What the layer hands to a console, caught in place of WriteConsoleW.
std::wstring g_console;
BOOL WINAPI CatchConsole(HANDLE, const void* text, DWORD n, LPDWORD written, LPVOID) {
    g_console.append(static_cast<const wchar_t*>(text), n);
    *written = n;
    return TRUE;
}

TEST(TextOutput, FilesGetOneEncodingAndConsolesUnicode) {
    TempDir dir;
    const std::string hangul = "\xED\x95\x9C\xEA\xB8\x80";  // 한글
    const std::string cp949 = "\xC7\xD1\xB1\xDB";
    const struct {
        ByteEncoding encoding;
        std::string expected;
    } cases[] = {{ByteEncoding::kUtf8, hangul + "|" + hangul},
                 {ByteEncoding::kCp949, cp949 + "|" + cp949}};
    for (const auto& c : cases) {
        {
            const mirelo::UniqueFile file(CreateFileW((dir / L"out").c_str(), GENERIC_WRITE, 0,
                                                      nullptr, CREATE_ALWAYS, 0, nullptr));
            TextStream stream(file.get(), c.encoding);
            EXPECT_FALSE(stream.IsConsole());
            stream.Write(hangul + "|");
            stream.WriteCp949(cp949);  // the plug-in's own bytes
        }
        EXPECT_EQ(ReadBytes(dir / L"out"), c.expected);
    }

    g_console.clear();
    TextStream console(GetStdHandle(STD_ERROR_HANDLE), ByteEncoding::kCp949, true, &CatchConsole);
    console.Write(hangul + "\xE3\x81\x82\n");  // 한글あ
    console.WriteCp949(cp949);
    EXPECT_EQ(g_console, L"\uD55C\uAE00\u3042\n\uD55C\uAE00");
    g_console.clear();
    // A long text goes out in pieces, none parting a surrogate pair.
    std::string emoji;
    for (int i = 0; i < 5000; ++i) emoji += "\xF0\x9F\x98\x80";
    console.Write(emoji);
    EXPECT_EQ(g_console, mirelo::Utf8ToWide(emoji));
}

// A real console whose code page is 949, as on Korean Windows: what mirelo-host writes there
// must read back as the characters it meant, Japanese ones included.
TEST(TextOutput, AProgramOnAKoreanConsoleShowsHangulAndKana) {
    FreeConsole();
    if (!AllocConsole()) GTEST_SKIP() << "no console can be made here";
    SetConsoleOutputCP(949);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const mirelo::UniqueFile screen(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                                OPEN_EXISTING, 0, nullptr));
    DWORD mode = 0;
    if (!screen || !GetConsoleMode(screen.get(), &mode)) {
        FreeConsole();
        GTEST_SKIP() << "the console has no screen here (no display)";
    }
    COORD origin = {0, 0};
    DWORD cleared = 0;
    FillConsoleOutputCharacterW(screen.get(), L' ', 80 * 25, origin, &cleared);
    SetConsoleCursorPosition(screen.get(), origin);

    TempDir dir;
    CreateDirectoryW((dir / L"MireloDict").c_str(), nullptr);
    // The kind ミ is unknown: the reason holds Hangul and kana.
    ASSERT_TRUE(WriteBytes(dir / L"MireloDict\\d.txt", "\xE3\x83\x9F\tx\ty\n"));
    std::wstring cmd = L"\"" + BinDir() + L"\\mirelo-host.exe\" --lang ko --check-dict \"" +
                       (dir / L"MireloDict") + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = screen.get();
    si.hStdError = screen.get();
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);

    std::wstring shown(80 * 3, L'\0');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(screen.get(), shown.data(), 80 * 3, origin, &got);
    FreeConsole();
    shown.resize(got);
    // d.txt:1: 알 수 없는 종류 "ミ" (...)
    EXPECT_NE(shown.find(L"d.txt:1: \uC54C \uC218 \uC5C6\uB294 \uC885\uB958 \"\u30DF\""),
              std::wstring::npos)
        << mirelo::WideToUtf8(shown);
    EXPECT_NE(shown.find(L"\uD30C\uC77C 1\uAC1C"), std::wstring::npos)  // 파일 1개
        << mirelo::WideToUtf8(shown);
}

TEST(DialogWatch, FindsABoxOfThisProcessAndItsTitle) {
    EXPECT_EQ(VisibleDialogTitle(), L"");
    std::thread box([] { MessageBoxW(nullptr, L"?", L"Mirelo Plugin", MB_YESNO); });
    std::wstring seen;
    for (int i = 0; i < 100 && seen.empty(); ++i) {
        Sleep(50);
        seen = VisibleDialogTitle();
    }
    EXPECT_EQ(seen, L"Mirelo Plugin");
    for (int i = 0; i < 100; ++i) {
        HWND h = FindWindowW(L"#32770", L"Mirelo Plugin");
        if (h) PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED), 0);
        if (!h) break;
        Sleep(50);
    }
    box.join();
    EXPECT_EQ(VisibleDialogTitle(), L"");
}

}  // namespace

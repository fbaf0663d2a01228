#include <gtest/gtest.h>

#include <cstdio>

#include "host_args.h"
#include "messages.h"
#include "test_support.h"
#include "text_codec.h"

using namespace mirelo::test;
using namespace tooltest;
using host::ParseArgs;

namespace {

std::wstring HostExe() {
    return BinDir() + L"\\mirelo-host.exe";
}
std::wstring FakePlugin() {
    return BinDir() + L"\\fake_plugin.dll";
}

TEST(HostArgs, GoodCommandLines) {
    auto a = ParseArgs({}).args;
    EXPECT_TRUE(a.plugin.empty());
    EXPECT_EQ(a.destSize, 4096);
    EXPECT_EQ(a.input, host::InputEncoding::Utf8);
    EXPECT_EQ(a.output, host::OutputEncoding::Utf8);
    EXPECT_FALSE(a.inputGiven || a.stats || a.dialog || a.help);

    auto p = ParseArgs({L"--plugin", L"C:\\x\\M.dll", L"--options=01", L"--dest-size", L"7",
                        L"--input-encoding", L"sjis", L"--output-encoding=cp949", L"--stats",
                        L"--dialog", L"in.txt"});
    EXPECT_TRUE(p.error.empty()) << p.error;
    EXPECT_EQ(p.args.plugin, L"C:\\x\\M.dll");
    EXPECT_EQ(p.args.options, "01");
    EXPECT_EQ(p.args.destSize, 7);
    EXPECT_EQ(p.args.input, host::InputEncoding::ShiftJis);
    EXPECT_EQ(p.args.output, host::OutputEncoding::Cp949);
    EXPECT_TRUE(p.args.stats && p.args.dialog);
    EXPECT_TRUE(p.args.inputGiven);
    EXPECT_EQ(p.args.inputFile, L"in.txt");

    EXPECT_TRUE(ParseArgs({L"-"}).args.inputGiven);  // standard input named explicitly
    EXPECT_TRUE(ParseArgs({L"--version"}).args.version);
    EXPECT_EQ(ParseArgs({L"--options", L""}).args.options, "");
    for (const wchar_t* digits : {L"00", L"01", L"10", L"11"})
        EXPECT_TRUE(ParseArgs({L"--options", digits}).error.empty()) << Narrow(digits);

    // cmd leaves "C:\Program Files (x86)\J2KEngine\" as ...J2KEngine" with the rest of
    // the line glued on.
    auto quoted = ParseArgs({L"--set-engine-folder", L"C:\\Program Files (x86)\\J2KEngine\""});
    EXPECT_TRUE(quoted.error.empty()) << quoted.error;
    EXPECT_EQ(quoted.args.engineFolder, L"C:\\Program Files (x86)\\J2KEngine\\");
    auto glued = ParseArgs({L"--set-engine-folder", L"C:\\Games\\Engine\" --lang  ko"});
    EXPECT_TRUE(glued.error.empty()) << glued.error;
    EXPECT_EQ(glued.args.engineFolder, L"C:\\Games\\Engine\\");
    auto two = ParseArgs({L"--plugin", L"C:\\a b\\M.dll", L"--check-dict", L"D:\\My Dict\""});
    EXPECT_TRUE(two.error.empty()) << two.error;
    EXPECT_EQ(two.args.dictFolder, L"D:\\My Dict\\");
    EXPECT_EQ(two.args.plugin, L"C:\\a b\\M.dll");
}

TEST(HostArgs, BadCommandLinesAreRefused) {
    const std::vector<std::wstring> bad[] = {
        {L"--bogus"},
        {L"--plugin"},
        {L"--plugin", L""},
        {L"--dest-size", L"0"},
        {L"--dest-size", L"-5"},
        {L"--dest-size", L"12x"},
        {L"--dest-size", L"16777217"},
        {L"--input-encoding", L"latin1"},
        {L"--output-encoding", L"sjis"},
        {L"--options", L"1234567890123456"},  // does not fit the 16-byte buffer
        {L"--options", L"\u00e9"},
        {L"--options", L"123456789012345"},  // fits, but the plug-in reads two digits
        {L"--options", L"1"},
        {L"--options", L"011"},
        {L"--options", L"12"},
        {L"--options=x1"},
        {L"--stats=yes"},
        {L"--version=1"},
        {L"a.txt", L"b.txt"},
    };
    for (const auto& argv : bad) {
        auto r = ParseArgs(argv);
        EXPECT_FALSE(r.error.empty()) << Narrow(argv[0]);
    }
}

TEST(HostCodec, ConvertsBetweenUtf8AndTheCodePages) {
    bool lossy = true;
    EXPECT_EQ(programs::Utf8ToShiftJis("\xE6\x97\xA5\xE6\x9C\xAC"
                                       "abc",
                                       &lossy),
              "\x93\xFA\x96\x7B"
              "abc");  // 日本abc
    EXPECT_FALSE(lossy);
    EXPECT_EQ(programs::Utf8ToShiftJis("\xED\x95\x9C"
                                       "a",
                                       &lossy),
              "?a");  // 한 has no Shift-JIS form
    EXPECT_TRUE(lossy);
    // é has none either; a look-alike 'e' would change the text without a warning.
    EXPECT_EQ(programs::Utf8ToShiftJis("caf\xC3\xA9", &lossy), "caf?");
    EXPECT_TRUE(lossy);
    EXPECT_EQ(programs::Utf8ToShiftJis("\xE3\x80\x9C", &lossy), "\x81\x60");  // 〜, a true form
    EXPECT_FALSE(lossy);
    EXPECT_EQ(programs::Utf8ToShiftJis("", &lossy), "");
    EXPECT_FALSE(lossy);

    EXPECT_EQ(programs::Cp949ToUtf8("\xC7\xD1\xB1\xB9 ok"), "\xED\x95\x9C\xEA\xB5\xAD ok");  // 한국
    EXPECT_EQ(programs::Cp949ToUtf8(""), "");
}

TEST(HostCodec, LineReaderGivesOneLinePerInputLine) {
    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\n\nc", {"a", "b", "", "c"}},
        {"\r\n", {""}},
        {"x\ry\r\r\n", {"x\ry\r"}},  // only the one CR before the line feed goes
        {"a\r", {"a"}},              // a last CR alone is an end, and comes back
        {std::string("n\0ul\n", 5), {std::string("n\0ul", 4)}},  // NUL bytes are kept
    };
    TempDir dir;
    for (const auto& c : cases) {
        WriteBytes(dir / L"in.txt", c.text);
        std::FILE* f = _wfopen((dir / L"in.txt").c_str(), L"rb");
        ASSERT_NE(f, nullptr);
        programs::LineReader reader(f);
        std::vector<std::string> got;
        std::string line, end, rebuilt;
        while (reader.Next(line, &end)) {
            got.push_back(line);
            rebuilt += line + end;
        }
        std::fclose(f);
        EXPECT_EQ(got, c.lines) << c.text.c_str();
        EXPECT_EQ(rebuilt, c.text);  // each line's own end comes back

        std::vector<std::string> split;
        rebuilt.clear();
        for (const auto& l : programs::SplitLines(c.text)) {
            split.emplace_back(l.text);
            rebuilt += std::string(l.text) + std::string(l.end);
        }
        EXPECT_EQ(split, c.lines) << c.text.c_str();
        EXPECT_EQ(rebuilt, c.text);
    }
}

TEST(HostProcess, SetupFailuresGiveOneLineAndTheirOwnExitCode) {
    TempDir dir;
    const struct {
        std::vector<std::wstring> args;
        DWORD code;
    } cases[] = {
        {{L"--dest-size", L"0"}, host::kExitUsage},
        {{L"--plugin", dir / L"missing.dll"}, host::kExitLoad},
        {{L"--plugin", BinDir() + L"\\J2KEngine.dll"}, host::kExitExport},
        {{L"--plugin", FakePlugin(), dir / L"missing.txt"}, host::kExitInput},
    };
    for (const auto& c : cases) {
        auto r = RunProcess(HostExe(), c.args, "line\n");
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        auto errLines = SplitLines(r.err);
        ASSERT_EQ(errLines.size(), 1u) << r.err;
        EXPECT_EQ(errLines[0].rfind("mirelo-host: ", 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
}

// The fake plug-in's start fails while one lives (when `fail`).
class FailingInit {
  public:
    explicit FailingInit(bool fail = true) : m_fail(fail) {
        if (m_fail) SetEnvironmentVariableW(L"MIRELO_FAKE_FAIL_INIT", L"1");
    }
    ~FailingInit() {
        if (m_fail) SetEnvironmentVariableW(L"MIRELO_FAKE_FAIL_INIT", nullptr);
    }

  private:
    bool m_fail;
};

// Runs the host against the fake plug-in with a call log of its own.
class FakeHost : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"MIRELO_FAKE_LOG", (m_dir / L"calls.log").c_str());
    }
    void TearDown() override { SetEnvironmentVariableW(L"MIRELO_FAKE_LOG", nullptr); }
    ProcessResult Run(std::vector<std::wstring> args, const std::string& input) {
        args.insert(args.begin(), {L"--plugin", FakePlugin()});
        return RunProcess(HostExe(), args, input);
    }
    std::vector<std::string> Calls() const { return ReadLines(m_dir / L"calls.log"); }
    TempDir m_dir;
};

// Each line keeps its own end (none for a last line without one), and a line that failed
// keeps its source text.
TEST_F(FakeHost, EveryInputLineGivesExactlyOneOutputLine) {
    // 日本語, かな, an empty line, a failing line, テスト without a final line feed.
    auto r = Run({L"--options", L"01"},
                 "\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n"
                 "\xE3\x81\x8B\xE3\x81\xAA\n\r\nFAIL\r\n\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88");
    EXPECT_EQ(r.exitCode, host::kExitLineFailed);
    EXPECT_EQ(r.out,
              "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n\xE3\x81\x8B\xE3\x81\xAA\n\r\nFAIL\r\n"
              "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88");
    EXPECT_NE(r.err.find("line 4: not translated"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the line is written as it was"), std::string::npos) << r.err;
    EXPECT_EQ(Calls(), (std::vector<std::string>{"init window=yes options=01", "close"}));
}

// A line the plug-in leaves the destination alone for (the engine had no translation) keeps
// its source, its line end too, and is no failure.
TEST_F(FakeHost, ALineWithoutATranslationKeepsItsSource) {
    auto r = Run({}, "NONE\r\n\xE3\x81\x8B\nNONE");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "NONE\r\n\xE3\x81\x8B\nNONE");
    EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST_F(FakeHost, RawEncodingsPassBytesStraight) {
    auto r = Run({L"--input-encoding", L"sjis", L"--output-encoding", L"cp949"},
                 "\x93\xFA\x96\x7B\n\x82\xA9\x82\xC8\n");  // 日本, かな in Shift-JIS
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "\xEC\xED\xDC\xE2\n\xAA\xAB\xAA\xCA\n");  // the same in CP949
}

TEST_F(FakeHost, DestinationSizeAndItsMisuseAreReported) {
    // 日本語 is six bytes in CP949: a 5-byte destination keeps the first two characters.
    auto cut = Run({L"--dest-size", L"5"}, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\n");
    EXPECT_EQ(cut.out, "\xE6\x97\xA5\xE6\x9C\xAC\n");
    EXPECT_TRUE(cut.err.empty()) << cut.err;

    auto over = Run({L"--dest-size", L"4"}, "OVERRUN\nNOTERM\n");
    EXPECT_EQ(over.out, "OOO\nNNNN\n");
    EXPECT_NE(over.err.find("line 1: the plug-in wrote past the end"), std::string::npos)
        << over.err;
    EXPECT_NE(over.err.find("line 2: result not terminated"), std::string::npos) << over.err;
}

TEST_F(FakeHost, DialogPrintsTheOptionStringAndTranslatesOnlyAGivenFile) {
    auto alone = Run({L"--dialog", L"--options", L"00"}, "stdin is not read\n");
    EXPECT_EQ(alone.exitCode, 0u) << alone.err;
    EXPECT_EQ(alone.out, "options: \"10\"\n");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"init window=yes options=00", "option", "close"}));

    WriteBytes(m_dir / L"in.txt", "abc\n");
    auto withFile = Run({L"--dialog", m_dir / L"in.txt"}, "");
    EXPECT_EQ(withFile.out, "options: \"10\"\nabc\n");
}

TEST_F(FakeHost, StatsSummariseTheRun) {
    auto r = Run({L"--stats"}, "a\nFAIL\nb\n");
    EXPECT_EQ(r.out, "a\nFAIL\nb\n");
    EXPECT_NE(r.err.find("lines: 3, failures: 1, total: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" us, mean: "), std::string::npos) << r.err;
}

TEST_F(FakeHost, FailedStartStillClosesThePlugin) {
    FailingInit failing;
    auto r = Run({L"--options", L"01"}, "never\n");
    EXPECT_EQ(r.exitCode, host::kExitInit);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("the plug-in did not start, so no line was translated"), std::string::npos)
        << r.err;
    EXPECT_EQ(Calls(), (std::vector<std::string>{"init window=yes options=01", "close"}));
}

// What the plug-in would quietly take as its default is refused before it starts.
TEST_F(FakeHost, ABadOptionStringIsRefusedBeforeThePluginStarts) {
    for (const wchar_t* bad : {L"1", L"x1", L"111", L"0 1"}) {
        auto r = Run({L"--options", bad}, "never\n");
        EXPECT_EQ(r.exitCode, host::kExitUsage) << Narrow(bad);
        EXPECT_NE(r.err.find("--options takes two digits, each 0 or 1, e.g. 11"), std::string::npos)
            << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_TRUE(Calls().empty()) << Narrow(bad);
    }
}

// Without --input-encoding the input decides; what cannot be told stops everything before
// the plug-in starts, so no line is written in the wrong encoding.
TEST_F(FakeHost, InputEncodingIsToldFromTheInput) {
    const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC";             // 日本 in UTF-8
    const std::string test = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト, not Shift-JIS
    const std::string sjisNihon = "\x93\xFA\x96\x7B";
    const struct {
        const char* what;
        std::string input;
        DWORD code;
        std::string out;
        const char* err;  // part of standard error, or null when it must be empty
    } cases[] = {
        {"Shift-JIS", sjisNihon + "\r\n\x82\xA9\x82\xC8\n", host::kExitOk,
         nihon + "\r\n\xE3\x81\x8B\xE3\x81\xAA\n",
         "mirelo-host: the input is not UTF-8 but reads as Shift-JIS: taking it as Shift-JIS"},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + nihon + "\n", host::kExitOk, nihon + "\n", nullptr},
        {"ASCII", "abc\n", host::kExitOk, "abc\n", nullptr},
        {"neither", "abc\n" + sjisNihon + "\n\xFF\xFE\xFD\n", host::kExitInputEncoding, "",
         "line 3 of the input is neither UTF-8 nor Shift-JIS; nothing was translated"},
        {"a mark, then Shift-JIS",
         "\xEF\xBB\xBF"
         "abc\n" +
             sjisNihon + "\n",
         host::kExitInputEncoding, "", "line 2 of the input is not valid UTF-8, though"},
        {"mixed", test + "\n" + sjisNihon + "\n", host::kExitInputEncoding, "",
         "line 2 of the input is Shift-JIS while other lines are UTF-8"},
        {"UTF-16",
         std::string("\xFF\xFE"
                     "a\0b\0\n\0c\0\n\0",
                     12),
         host::kExitInputEncoding, "", "the input looks like UTF-16"},
    };
    for (const auto& c : cases) {
        DeleteFileW((m_dir / L"calls.log").c_str());
        const auto r = Run({}, c.input);
        EXPECT_EQ(r.exitCode, c.code) << c.what << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.what;
        if (c.err == nullptr) {
            EXPECT_TRUE(r.err.empty()) << c.what << ": " << r.err;
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << ": " << r.err;
            EXPECT_EQ(SplitLines(r.err).size(), 1u) << c.what << ": " << r.err;
        }
        if (c.code == host::kExitInputEncoding) {
            EXPECT_TRUE(Calls().empty()) << c.what;  // the plug-in never started
        }
    }
    // A named encoding is taken line by line; bytes that are not UTF-8 are said to be so.
    const auto named = Run({L"--input-encoding", L"utf8"}, "ab\xFF\n");
    EXPECT_EQ(named.out, "ab?\n");
    EXPECT_NE(named.err.find("line 1: not valid UTF-8"), std::string::npos) << named.err;
}

TEST_F(FakeHost, MessagesInKoreanWhenAsked) {
    const struct {
        std::vector<std::wstring> args;
        DWORD code;
        const char* err;
    } cases[] = {
        {{L"--lang", L"ko", L"--dest-size", L"0"},
         host::kExitUsage,
         "mirelo-host: --dest-size는 1부터 16777216까지의 정수입니다 (--help를 보십시오)\n"},
        {{L"--lang=ko", L"--options", L"10"},
         host::kExitInit,
         "mirelo-host: 플러그인이 시작하지 못해 아무 줄도 번역하지 않았습니다. 까닭은 플러그인이 "
         "띄운 메시지 창에 있었습니다. mirelo-host --diagnose로 엔진을 찾는 곳에 무엇이 있는지 "
         "확인하십시오\n"},
        {{L"--lang", L"en", L"--options", L"10"},
         host::kExitInit,
         "mirelo-host: the plug-in did not start, so no line was translated; its message box "
         "said why. mirelo-host --diagnose shows what it finds where it looks for the engine\n"},
        {{L"--lang", L"kr"}, host::kExitUsage, "mirelo-host: --lang is ko or en (see --help)\n"},
    };
    for (const auto& c : cases) {
        FailingInit failing(c.code == host::kExitInit);
        const auto r = Run(c.args, "a\n");
        EXPECT_EQ(r.exitCode, c.code) << r.err;
        EXPECT_EQ(r.err, c.err);
    }
    const auto stats = Run({L"--lang", L"ko", L"--stats"}, "a\nFAIL\n");
    EXPECT_NE(stats.err.find("mirelo-host: 경고: 2번째 줄: 번역하지 못했습니다: 플러그인이 3초 "
                             "안에 답하지 않아 원문을 그대로 씁니다"),
              std::string::npos)
        << stats.err;
    EXPECT_NE(stats.err.find("mirelo-host: 줄: 2, 실패: 1, 전체: "), std::string::npos)
        << stats.err;
}

}  // namespace

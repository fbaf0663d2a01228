// The real plug-in driven by mirelo-host against the stand-in engine, end to end.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "engine_folder.h"
#include "install_key.h"
#include "test_support.h"

using namespace mirelo::test;
using namespace tooltest;

namespace {

ProcessResult RunHost(const std::vector<std::wstring>& extra, const std::string& input) {
    std::vector<std::wstring> args = {L"--plugin", BinDir() + L"\\Mirelo.dll"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunProcess(BinDir() + L"\\mirelo-host.exe", args, input);
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<std::size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// An engine folder of the test's own, with the registry pointing at it.
class ScriptedEngine {
  public:
    explicit ScriptedEngine(const std::string& script)
        : m_folder(script), m_ok(m_key.SetPath(m_folder.Root())) {}
    bool ok() const { return m_ok; }
    std::wstring DataDir() const { return m_folder.DataDir(); }

  private:
    EngineFolder m_folder;
    InstallKey m_key;
    bool m_ok;
};

TEST(MireloThroughHost, ScriptedEngineSeesTheContractKept) {
    ScriptedEngine engine(
        "mode scripted\nlog calls.log\n"
        "map 93FA967B C0CFBABB\n"  // 日本 -> 일본
        "null 6E6F7468696E67\n");  // "nothing" has no translation
    ASSERT_TRUE(engine.ok());

    // hello twice (the second from the cache), an empty line, 日本, brackets and a colon that
    // must travel as markers, and a line the engine cannot translate.
    auto r = RunHost({}, "hello\n\n\xE6\x97\xA5\xE6\x9C\xAC\r\na(b): c\nnothing\nhello\n");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "hello\n\n\xEC\x9D\xBC\xEB\xB3\xB8\r\na(b): c\nnothing\nhello\n");

    auto log = ReadLines(engine.DataDir() + L"\\calls.log");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().rfind("init key=", 0), 0u);
    EXPECT_NE(log.front().find(" path=" + Hex(Narrow(engine.DataDir()))), std::string::npos)
        << log.front();
    EXPECT_EQ(Count(log, "translate arg=0 in=68656C6C6F "), 1u);     // hello, once
    EXPECT_EQ(Count(log, "translate arg=0 in=615F2630343026"), 1u);  // "a_&040&" ...
    EXPECT_EQ(Count(log, "violation"), 0u);
    const std::size_t results = Count(log, "translate ") - Count(log, "translate arg=0 in=6E6F");
    EXPECT_EQ(Count(log, "free ptr="), results);
    EXPECT_EQ(log.back(), "stop arg=0 outstanding=0");
    EXPECT_EQ(Count(log, "terminate"), 0u);
}

TEST(MireloThroughHost, ALineThatTimesOutDoesNotShiftTheLinesAfterIt) {
    ScriptedEngine engine("mode scripted\ndelay 736C6F77 3500\n");  // "slow"
    ASSERT_TRUE(engine.ok());
    auto r = RunHost({}, "slow\nsecond\nthird\n");
    EXPECT_EQ(r.exitCode, 7u) << r.err;
    EXPECT_EQ(r.out, "slow\nsecond\nthird\n");  // the failed line as it was
    EXPECT_NE(r.err.find("line 1: not translated"), std::string::npos) << r.err;
}

TEST(MireloThroughHost, AnOversizeResultStaysInsideTheDestination) {
    ScriptedEngine engine("mode scripted\noversize 626967 100000\n");  // "big"
    ASSERT_TRUE(engine.ok());
    for (const wchar_t* size : {L"4096", L"100"}) {
        auto r = RunHost({L"--dest-size", size}, "big\nafter\n");
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;  // no write past the end, terminator inside
        std::size_t eol = r.out.find('\n');
        ASSERT_NE(eol, std::string::npos);
        EXPECT_LT(eol, static_cast<std::size_t>(_wtoi(size)));
        EXPECT_EQ(r.out.substr(eol + 1), "after\n");
    }
}

TEST(MireloThroughHost, DemoEngineFolderFromTheBuildTree) {
    wchar_t full[MAX_PATH];
    GetFullPathNameW((BinDir() + L"\\..\\engine").c_str(), MAX_PATH, full, nullptr);
    InstallKey reg;
    ASSERT_TRUE(reg.SetPath(full));
    // 勇者は魔王を倒した。 with both clean-ups on, then with both off.
    const std::string line =
        "\xE5\x8B\x87\xE8\x80\x85\xE3\x81\xAF\xE9\xAD\x94\xE7\x8E\x8B\xE3\x82\x92\xE5\x80\x92"
        "\xE3\x81\x97\xE3\x81\x9F\xE3\x80\x82\n";
    auto clean = RunHost({L"--options", L"11"}, line);
    EXPECT_EQ(clean.exitCode, 0u) << clean.err;
    EXPECT_EQ(clean.out, "용사는 마왕을 쓰러뜨렸다.\n");
    auto raw = RunHost({L"--options", L"00"}, line);
    EXPECT_EQ(raw.out, "용사는 (주: 주인공)  마왕을 [마오]  쓰러뜨렸다.\n");
}

// The sample lines, the sample dictionary and the README, as the build tree holds them.
std::wstring DemoInputs() {
    return BinDir() + L"\\..\\demo-inputs";
}

// What scripts/demo.sh sets up: the build tree's engine folder, and a copy of the plug-in
// with the sample dictionary beside it.
class DemoSetup {
  public:
    DemoSetup() {
        wchar_t engine[MAX_PATH];
        GetFullPathNameW((BinDir() + L"\\..\\engine").c_str(), MAX_PATH, engine, nullptr);
        m_ok = m_key.SetPath(engine) &&
               CopyFileW((BinDir() + L"\\Mirelo.dll").c_str(), m_plugin.c_str(), FALSE);
    }
    bool ok() const { return m_ok; }

    ProcessResult Run(const std::vector<std::wstring>& extra, const std::string& input) const {
        std::vector<std::wstring> args = {L"--plugin", m_plugin};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunProcess(BinDir() + L"\\mirelo-host.exe", args, input);
    }

    // Each line through the plug-in, against what it must give.
    void Expect(const std::vector<std::pair<std::string, std::string>>& lines,
                const std::vector<std::wstring>& options = {}) const {
        std::string in;
        for (const auto& [ja, ko] : lines) in += ja + "\n";
        auto r = Run(options, in);
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        const auto out = SplitLines(r.out);
        ASSERT_GE(out.size(), lines.size()) << r.out;
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(out[i], lines[i].second) << lines[i].first;
    }

  private:
    InstallKey m_key;
    std::wstring m_plugin = DemoInputs() + L"\\Mirelo.dll";
    bool m_ok = false;
};

TEST(MireloThroughHost, DemoNamesKeepTheParticlesAfterThem) {
    DemoSetup demo;
    ASSERT_TRUE(demo.ok());
    demo.Expect({
        {"凛は見た。", "린은  보았다."},
        {"美玲が、魔王を倒した。", "미령이,마왕을  쓰러뜨렸다."},
        {"美玲を見た。", "미령을  보았다."},
        {"凛と美玲", "린과 미령"},
        {"凛へ行こう", "린으로 가자"},
        {"港町へ行こう", "항구 마을로 가자"},  // ㄹ takes 로
        {"港町で見た。", "항구 마을에서 보았다."},
        {"12:30に凛が", "12:30에 린이 "},
    });
}

TEST(MireloThroughHost, DemoNotesGoWithoutGluingTheWordsAround) {
    DemoSetup demo;
    ASSERT_TRUE(demo.ok());
    for (const std::vector<std::wstring>& options :
         {std::vector<std::wstring>{}, {L"--options", L"10"}, {L"--options", L"11"}})
        demo.Expect({{"魔王 勇者", "마왕 용사"}, {"セーブ ロード", "저장 불러오기"}}, options);
    demo.Expect({{"魔王 勇者", "마왕 [마오] 용사(주: 주인공)"}}, {L"--options", L"00"});
}

TEST(MireloThroughHost, ReadmeShowsWhatTheDemoPrints) {
    DemoSetup demo;
    ASSERT_TRUE(demo.ok());
    const std::string readme = ReadBytes(DemoInputs() + L"\\README.md");
    const std::string open = "```text\n";
    const std::size_t demoAt = readme.find("./scripts/demo.sh");
    const std::size_t at = readme.find(open, demoAt == std::string::npos ? 0 : demoAt);
    ASSERT_NE(at, std::string::npos) << "no ```text block after ./scripts/demo.sh";
    const std::size_t end = readme.find("```", at + open.size());
    ASSERT_NE(end, std::string::npos);
    auto r = demo.Run({DemoInputs() + L"\\lines-ja.txt"}, "");
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, readme.substr(at + open.size(), end - at - open.size()));
}

// Plays the user of mirelo-host's plug-in from outside its process: the question box gets
// `answer`, the folder browser `folder` (written into that process, where the browser reads
// it) and OK, and every other box OK.
class Player {
  public:
    Player(int answer, std::wstring folder)
        : m_answer(answer), m_folder(std::move(folder)), m_thread([this] { Run(); }) {}
    ~Player() {
        m_stop = true;
        m_thread.join();
    }

  private:
    static bool OfHost(HWND h, DWORD& pid) {
        GetWindowThreadProcessId(h, &pid);
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (process == nullptr) return false;
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        const bool ok = QueryFullProcessImageNameW(process, 0, image, &size) &&
                        std::wstring(image).find(L"mirelo-host.exe") != std::wstring::npos;
        CloseHandle(process);
        return ok;
    }

    // The name the folder browser's tree shows as selected, read in the host's process.
    static std::wstring Selected(HWND tree, HANDLE process) {
        const auto item =
            reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (item == nullptr) return {};
        struct Block {
            TVITEMW item;
            wchar_t text[MAX_PATH];
        } local = {};
        auto* remote = static_cast<Block*>(
            VirtualAllocEx(process, nullptr, sizeof local, MEM_COMMIT, PAGE_READWRITE));
        local.item.mask = TVIF_TEXT | TVIF_HANDLE;
        local.item.hItem = item;
        local.item.pszText = remote->text;
        local.item.cchTextMax = MAX_PATH;
        DWORD_PTR ok = 0;
        const bool read =
            WriteProcessMemory(process, remote, &local, sizeof local, nullptr) &&
            SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote),
                                SMTO_NORMAL, 5000, &ok) &&
            ok && ReadProcessMemory(process, remote, &local, sizeof local, nullptr);
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
        return read ? std::wstring(local.text) : std::wstring();
    }

    void Answer(HWND h, DWORD pid) {
        if (HWND tree = FindWindowExW(h, nullptr, L"SysTreeView32", nullptr)) {
            HANDLE process =
                OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ, FALSE, pid);
            const SIZE_T bytes = (m_folder.size() + 1) * sizeof(wchar_t);
            void* remote = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
            WriteProcessMemory(process, remote, m_folder.c_str(), bytes, nullptr);
            // The browser may still be filling its tree, or setting its first selection over
            // ours: OK only once the folder is the one shown selected.
            const std::wstring leaf = m_folder.substr(m_folder.find_last_of(L"\\") + 1);
            for (const ULONGLONG end = GetTickCount64() + 20000; GetTickCount64() < end;) {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutW(h, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote),
                                    SMTO_NORMAL, 5000, &ignored);
                Sleep(100);
                if (_wcsicmp(Selected(tree, process).c_str(), leaf.c_str()) == 0) break;
            }
            VirtualFreeEx(process, remote, 0, MEM_RELEASE);
            CloseHandle(process);
            PostMessageW(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(h, IDOK)));
            return;
        }
        wchar_t text[512] = {};
        GetDlgItemTextW(h, 0xFFFF, text, 512);
        const bool question = std::wstring(text).find(L"\uC9C1\uC811") != std::wstring::npos;
        const int id = question ? m_answer : IDOK;  // 직접: "find it yourself?"
        PostMessageW(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(h, id)));
    }

    void Run() {
        std::set<HWND> answered;
        while (!m_stop) {
            for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
                wchar_t cls[16] = {};
                GetClassNameW(h, cls, 16);
                DWORD pid = 0;
                if (std::wstring(cls) != L"#32770" || !IsWindowVisible(h) || answered.count(h) ||
                    !OfHost(h, pid))
                    continue;
                answered.insert(h);
                Sleep(100);  // let it finish coming up
                Answer(h, pid);
            }
            Sleep(50);
        }
    }

    int m_answer;
    std::wstring m_folder;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::vector<std::string> ErrLines(const ProcessResult& r) {
    return SplitLines(r.err);
}

std::wstring Full(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return std::wstring(full, n);
}

// With no folder recorded the plug-in asks where "Mirelo" is installed; the console says first
// what that means, tells a player who picked Mirelo's own folder so, and after a start from a
// picked folder says how to keep it (without asking: standard input is no console here).
TEST(MireloThroughHost, TheEngineQuestionIsExplainedAndAPickedFolderOffered) {
    InstallKey key;
    key.DeleteKey();
    {
        Player player(IDNO, L"");
        auto r = RunHost({L"--lang", L"ko"}, "line\n");
        EXPECT_EQ(r.exitCode, 5u) << r.err;
        const auto lines = ErrLines(r);
        ASSERT_EQ(lines.size(), 2u) << r.err;
        EXPECT_EQ(lines[0],
                  "mirelo-host: 곧 플러그인이 \"Mirelo가 설치된 경로\"를 묻습니다. 여기서 "
                  "Mirelo 폴더는 번역 엔진이 설치된 폴더, 곧 J2KEngine.dll과 Dat 폴더가 "
                  "들어 있는 폴더입니다(Mirelo를 압축 푼 폴더가 아닙니다).");
        EXPECT_EQ(lines[1].rfind("mirelo-host: 플러그인이 시작하지 못해", 0), 0u) << lines[1];
    }

    TempDir unpacked;  // as the zip unpacks: the programs in x86
    CreateDirectoryW((unpacked / L"x86").c_str(), nullptr);
    WriteBytes(unpacked / L"x86\\Mirelo.dll", "MZ");
    {
        Player player(IDYES, Full(unpacked.path()));
        auto r = RunHost({}, "line\n");
        EXPECT_EQ(r.exitCode, 5u) << r.err;
        EXPECT_NE(r.err.find("is Mirelo's own folder, not the translation engine's"),
                  std::string::npos)
            << r.err;
    }

    EngineFolder engine("mode scripted\n");
    const std::wstring root = Full(engine.Root());
    {
        Player player(IDYES, root);
        auto r = RunHost({}, "line\n");
        EXPECT_EQ(r.exitCode, 0u) << r.err;
        EXPECT_EQ(r.out, "line\n");
        EXPECT_NE(r.err.find("to record the folder: mirelo-host --set-engine-folder \"" +
                             Narrow(root) + "\""),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find("[y/N]"), std::string::npos) << r.err;  // nobody to answer
    }
    HKEY k = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Kestrow\\Mirelo", 0, KEY_READ, &k),
              ERROR_SUCCESS);  // the plug-in never writes it, and nothing was agreed to
    if (k) RegCloseKey(k);
}

// Finds the options dialog of another process, to answer it as a user would.
BOOL CALLBACK MatchOptionDialog(HWND h, LPARAM found) {
    wchar_t cls[16] = {}, title[64] = {};
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    GetClassNameW(h, cls, 16);
    GetWindowTextW(h, title, 64);
    if (pid == GetCurrentProcessId() || !IsWindowVisible(h) || std::wstring(cls) != L"#32770" ||
        std::wstring(title) != L"Mirelo Option")
        return TRUE;
    *reinterpret_cast<HWND*>(found) = h;
    return FALSE;
}

HWND FindOptionDialog() {
    HWND found = nullptr;
    EnumWindows(MatchOptionDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

TEST(MireloThroughHost, DialogOptionsComeBackAsTheOptionString) {
    ScriptedEngine engine("mode scripted\n");
    ASSERT_TRUE(engine.ok());
    std::atomic<bool> answered{false};
    std::thread user([&] {
        for (int i = 0; i < 300 && !answered; ++i) {
            if (HWND dlg = FindOptionDialog()) {
                constexpr int kRemoveBrackets = 2000;
                SendDlgItemMessageW(dlg, kRemoveBrackets, BM_CLICK, 0, 0);
                PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
                answered = true;
            }
            Sleep(50);
        }
    });
    auto r = RunHost({L"--dialog", L"--options", L"01"}, "");
    answered = true;
    user.join();
    EXPECT_EQ(r.exitCode, 0u) << r.err;
    EXPECT_EQ(r.out, "options: \"11\"\n");
}

}  // namespace

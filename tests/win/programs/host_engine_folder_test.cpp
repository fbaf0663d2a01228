// --set-engine-folder records the engine's folder where the plug-in looks, after checking it;
// --diagnose's advice names it. Both read or write HKCU, hence the lock in CMake.
#include <gtest/gtest.h>

#include "engine_folder.h"
#include "host_args.h"
#include "install_key.h"
#include "test_support.h"

using namespace mirelo::test;
using namespace tooltest;

namespace {

constexpr wchar_t kKey[] = L"Software\\Kestrow\\Mirelo";

ProcessResult RunHost(const std::vector<std::wstring>& args) {
    return RunProcess(BinDir() + L"\\mirelo-host.exe", args, "");
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t buf[MAX_PATH];
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, buf, nullptr);
    return std::wstring(buf, n);
}

// FilePath as REG_SZ, or "(none)".
std::wstring Recorded() {
    wchar_t buf[MAX_PATH] = {};
    DWORD size = sizeof buf;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, L"FilePath", RRF_RT_REG_SZ, nullptr, buf, &size) !=
        ERROR_SUCCESS)
        return L"(none)";
    return buf;
}

bool Has(const ProcessResult& r, const std::string& text) {
    return r.out.find(text) != std::string::npos;
}

TEST(SetEngineFolder, RecordsAUsableEngineFolderAndRefusesEveryOther) {
    InstallKey key;
    key.DeleteKey();
    EngineFolder good;
    const std::wstring root = FullPath(good.Root());
    const std::string rootText = Narrow(root);

    auto r = RunHost({L"--set-engine-folder", root + L"\\"});
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(Recorded(), root);
    EXPECT_TRUE(Has(r, "32-bit x86 library\n")) << r.out;
    EXPECT_TRUE(Has(r, "recorded HKCU\\Software\\Kestrow\\Mirelo, FilePath = \"" + rootText +
                           "\"; the plug-in uses this folder from its next start\n"))
        << r.out;
    EXPECT_EQ(RunHost({L"--diagnose"}).exitCode, 0u);

    // As cmd hands on "FOLDER\" typed with a trailing backslash: FOLDER" and the rest glued.
    key.DeleteKey();
    r = RunHost({L"--set-engine-folder", root + L"\" --lang ko"});
    EXPECT_EQ(r.exitCode, 0u) << r.out;
    EXPECT_EQ(Recorded(), root);
    EXPECT_TRUE(Has(r, "기록했습니다: ")) << r.out;  // --lang ko glued on was heard too

    EngineFolder old("", L"J2KEngine_noterminate.dll");
    EngineFolder none("", nullptr);
    EngineFolder noData;
    RemoveDirectoryW(noData.DataDir().c_str());
    const struct {
        std::wstring folder;
        std::string says;
    } refused[] = {
        {old.Root(),
         "Missing:          J2K_Terminate\nVerdict: J2KEngine.dll lacks engine functions"},
        {none.Root(), "To do: the folder holds no J2KEngine.dll"},
        {noData.Root(), "Verdict: the engine's data folder is missing"},
        {root + L"\\J2KEngine.dll",
         "To do: this is the file J2KEngine.dll itself; give its folder: mirelo-host "
         "--set-engine-folder \"" +
             rootText + "\"\n"},
        {good.DataDir(),
         "To do: this folder is inside the engine's folder; give its parent, which holds "
         "J2KEngine.dll: mirelo-host --set-engine-folder \"" +
             rootText + "\"\n"},
        {root + L"\\nowhere", rootText + "\\nowhere: no such folder\n"},
    };
    for (const auto& c : refused) {
        r = RunHost({L"--set-engine-folder", c.folder});
        EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitEngineFolder)) << r.out;
        EXPECT_TRUE(Has(r, c.says)) << r.out;
        EXPECT_TRUE(Has(r, "nothing was recorded\n")) << r.out;
        EXPECT_EQ(Recorded(), root) << Narrow(c.folder);  // the good value stays
    }

    r = RunHost({L"--lang", L"ko", L"--set-engine-folder", none.Root()});
    EXPECT_TRUE(Has(r,
                    "할 일: 폴더에 J2KEngine.dll이 없습니다. J2KEngine.dll이 든 폴더를 주십시오\n"
                    "아무것도 기록하지 않았습니다\n"))
        << r.out;
    EXPECT_TRUE(Has(r, "엔진 라이브러리:  ")) << r.out;  // labels line up by console columns
}

TEST(SetEngineFolder, DiagnoseNamesTheCommandWhereTheValueIsMissingOrWrong) {
    InstallKey key;
    EngineFolder good;
    const std::wstring root = FullPath(good.Root());
    const std::string quoted = "mirelo-host --set-engine-folder \"" + Narrow(root) + "\"\n";
    const struct {
        std::wstring value;  // empty: no key at all
        std::string says;
        const char* never;
    } cases[] = {
        {L"",
         "Verdict: the engine's folder is not recorded; the plug-in will ask for it at every "
         "start\nTo do: install the engine's product (its setup records the folder), or record "
         "the folder yourself: mirelo-host --set-engine-folder FOLDER.",
         "start the plug-in once and pick"},
        {root + L"\\J2KEngine.dll",
         "Verdict: FilePath names the file J2KEngine.dll itself, not its folder\nTo do: record "
         "the folder that holds it: " +
             quoted,
         "inside the engine's folder"},
        {root + L"\\gone",
         "Verdict: the folder FilePath names does not exist\nTo do: reinstall the engine's "
         "product, or record the folder that holds J2KEngine.dll: mirelo-host "
         "--set-engine-folder FOLDER\n",
         nullptr},
        {good.DataDir(), "set it to its parent, which holds J2KEngine.dll: " + quoted, nullptr},
    };
    for (const auto& c : cases) {
        if (c.value.empty())
            key.DeleteKey();
        else
            ASSERT_TRUE(key.SetPath(c.value));
        const auto r = RunHost({L"--diagnose"});
        EXPECT_EQ(r.exitCode, static_cast<DWORD>(host::kExitInit)) << r.out;
        EXPECT_TRUE(Has(r, c.says)) << r.out;
        if (c.never) {
            EXPECT_FALSE(Has(r, c.never)) << r.out;
        }
    }
    key.DeleteKey();
    const auto ko = RunHost({L"--lang", L"ko", L"--diagnose"});
    EXPECT_TRUE(Has(ko,
                    "판정: 엔진 폴더가 기록되어 있지 않습니다. 플러그인이 시작할 때마다 "
                    "폴더를 묻습니다\n할 일: "))
        << ko.out;
}

}  // namespace

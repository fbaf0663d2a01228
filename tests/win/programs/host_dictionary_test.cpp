// mirelo-host's dictionary options: --check-dict's report and exit code, and --trace.
#include <gtest/gtest.h>

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

}  // namespace

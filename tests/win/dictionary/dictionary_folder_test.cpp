// The folder half under Wine: which files count and in what order, when the signature
// changes, what the system encoders refuse, and what a load reports.
#include <gtest/gtest.h>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "iat_hook.h"
#include "test_files.h"

namespace mirelo::dict {
namespace {

using test::TempDir;
using test::WriteBytes;

TEST(DictionaryFolder, ListsTxtFilesOfAnyCaseInByteOrder) {
    TempDir dir;
    for (const wchar_t* name : {L"b.txt", L"A.TXT", L"c.off", L"d.txt.bak", L"\uBBF8.Txt"})
        ASSERT_TRUE(WriteBytes(dir / name, "x"));
    CreateDirectoryW((dir / L"e.txt").c_str(), nullptr);
    std::vector<std::string> names;
    for (const FolderFile& f : ListFolder(dir.path())) names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A.TXT", "b.txt", "\xEB\xAF\xB8.Txt"}));
    EXPECT_TRUE(ListFolder(dir / L"none").empty());
}

TEST(DictionaryFolder, SignatureFollowsNamesSizesAndTimes) {
    TempDir dir;
    EXPECT_EQ(FolderSignature(dir / L"none"), 0u);
    EXPECT_EQ(FolderSignature(dir.path()), 0u);
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "pre\tA\tB\n"));
    const uint64_t one = FolderSignature(dir.path());
    EXPECT_NE(one, 0u);
    EXPECT_EQ(FolderSignature(dir.path()), one);
    ASSERT_TRUE(WriteBytes(dir / L"notes.md", "not a dictionary"));
    EXPECT_EQ(FolderSignature(dir.path()), one);

    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "pre\tA\tBC\n"));  // size
    const uint64_t two = FolderSignature(dir.path());
    EXPECT_NE(two, one);
    ASSERT_TRUE(MoveFileW((dir / L"a.txt").c_str(), (dir / L"a.off").c_str()));  // switched off
    EXPECT_EQ(FolderSignature(dir.path()), 0u);
    ASSERT_TRUE(MoveFileW((dir / L"a.off").c_str(), (dir / L"a.txt").c_str()));
    EXPECT_EQ(FolderSignature(dir.path()), two);

    // Same name and size, only the last-write time differs.
    HANDLE h = CreateFileW((dir / L"a.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME t{0x12345678, 0x01D00000};
    SetFileTime(h, nullptr, nullptr, &t);
    CloseHandle(h);
    EXPECT_NE(FolderSignature(dir.path()), two);
}

// Looks at made-up times: a change is due only once two looks at least the quiet period
// apart saw the folder the same, and a further change starts the wait again.
TEST(DictionaryFolder, WatchLoadsAChangeOnlyOnceItHeldStill) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "pre\tA\tB\n"));
    FolderWatch watch(dir.path(), 400, 250);
    EXPECT_TRUE(watch.Due(1000));  // nothing loaded yet
    EXPECT_EQ(watch.WaitMs(1000), 0u);
    EXPECT_EQ(watch.Load().dictionary->Count(Kind::Pre), 1u);
    EXPECT_FALSE(watch.Due(1000));
    EXPECT_EQ(watch.WaitMs(1000), 250u);  // nothing changing: the look interval

    ASSERT_TRUE(WriteBytes(dir / L"b.txt", "post\tA\tB\n"));
    EXPECT_FALSE(watch.Due(2000));        // first seen
    EXPECT_EQ(watch.WaitMs(2100), 300u);  // until the quiet period is over
    EXPECT_FALSE(watch.Due(2399));
    ASSERT_TRUE(WriteBytes(dir / L"b.txt", "post\tA\tBC\n"));
    EXPECT_FALSE(watch.Due(2400));  // moved again: the wait starts over
    EXPECT_FALSE(watch.Due(2799));
    EXPECT_TRUE(watch.Due(2800));
    EXPECT_EQ(watch.WaitMs(2800), 0u);
    const FolderDictionary loaded = watch.Load();
    EXPECT_TRUE(loaded.settled);
    EXPECT_EQ(loaded.dictionary->Count(Kind::Post), 1u);
    EXPECT_FALSE(watch.Due(5000));

    // A change undone before it settled needs no load.
    ASSERT_TRUE(MoveFileW((dir / L"b.txt").c_str(), (dir / L"b.off").c_str()));
    EXPECT_FALSE(watch.Due(6000));
    ASSERT_TRUE(MoveFileW((dir / L"b.off").c_str(), (dir / L"b.txt").c_str()));
    EXPECT_FALSE(watch.Due(7000));
    EXPECT_EQ(watch.WaitMs(7000), 250u);
}

// A save that lands between the look that found the folder still and the read: what was
// read is not settled, and the folder is read again once it holds still, although it has
// not changed since that read.
TEST(DictionaryFolder, ALoadTheFolderMovedUnderIsNotSettled) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "pre\tA\tB\n"));
    FolderWatch watch(dir.path(), 400, 250);
    EXPECT_TRUE(watch.Load().settled);
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", ""));  // the editor cuts the file
    EXPECT_FALSE(watch.Due(1000));
    EXPECT_TRUE(watch.Due(1400));
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", "pre\tA\tC\npre\tD\tE\n"));  // and writes it
    EXPECT_FALSE(watch.Load().settled);
    EXPECT_FALSE(watch.Due(2000));
    EXPECT_TRUE(watch.Due(2400));
    const FolderDictionary again = watch.Load();
    EXPECT_TRUE(again.settled);
    EXPECT_EQ(again.dictionary->Count(Kind::Pre), 2u);
    EXPECT_FALSE(watch.Due(3000));
}

TEST(DictionaryFolder, SystemEncodersRefuseWhatHasNoFormOfItsOwn) {
    const TextEncoders& e = SystemEncoders();
    std::string out;
    EXPECT_TRUE(e.toShiftJis("\xE3\x83\x9F\xEF\xBD\xB1", out));  // ミｱ
    EXPECT_EQ(out, "\x83\x7E\xB1");
    EXPECT_TRUE(e.toCp949("\xEB\xAF\xB8", out));  // 미
    EXPECT_EQ(out, "\xB9\xCC");
    EXPECT_FALSE(e.toShiftJis("\xE2\x99\xA5", out));  // ♥
    EXPECT_TRUE(e.toShiftJis("\xE3\x80\x9C", out));   // 〜 U+301C: what a game writes as 0x8160
    EXPECT_EQ(out, "\x81\x60");
    EXPECT_FALSE(e.toCp949("\xF0\x9F\x98\x80", out));   // an emoji
    EXPECT_FALSE(e.toShiftJis("\xFF", out));            // not UTF-8
    EXPECT_FALSE(e.toShiftJis("a?\xE2\x99\xA5", out));  // a real '?' does not hide a default
}

TEST(DictionaryFolder, LoadKeepsGoodEntriesAndReportsTheRest) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"1-names.txt", "name\t\xE3\x83\x9F\tx\nname\tbroken\n"));
    ASSERT_TRUE(WriteBytes(dir / L"2-post.TXT", "post\ta\tb\r\n"));
    std::string big(kMaxFileBytes + 1, '#');
    ASSERT_TRUE(WriteBytes(dir / L"0-big.txt", big));

    const FolderDictionary loaded = LoadFolder(dir.path());
    ASSERT_NE(loaded.dictionary, nullptr);
    EXPECT_EQ(loaded.files, 3u);
    EXPECT_EQ(loaded.signature, FolderSignature(dir.path()));
    EXPECT_EQ(loaded.dictionary->Count(Kind::Name), 1u);
    EXPECT_EQ(loaded.dictionary->Count(Kind::Post), 1u);
    ASSERT_EQ(loaded.problems.size(), 2u);
    EXPECT_EQ(loaded.problems[0].file, "0-big.txt");
    EXPECT_EQ(loaded.problems[0].line, 0);
    EXPECT_EQ(loaded.problems[1].file, "1-names.txt");
    EXPECT_EQ(loaded.problems[1].line, 2);

    const FolderDictionary none = LoadFolder(dir / L"none");
    EXPECT_EQ(none.dictionary, nullptr);
    EXPECT_EQ(none.files, 0u);
}

test::IatHook* g_malloc = nullptr;
// Memory for a whole file of 1 MiB runs out; smaller blocks are still had.
void* __cdecl NoLargeBlocks(size_t bytes) {
    return bytes >= (512u << 10) ? nullptr : g_malloc->Original<void* (*)(size_t)>()(bytes);
}

TEST(DictionaryFolder, ALoadThatFailsWholeSaysWhyAsTheFoldersProblem) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / L"a.txt", std::string(1u << 20, '#')));
    FolderDictionary loaded;
    {
        test::IatHook hook(GetModuleHandleW(nullptr), "msvcrt.dll", "malloc",
                           reinterpret_cast<const void*>(&NoLargeBlocks));
        ASSERT_TRUE(hook.Installed());
        g_malloc = &hook;
        loaded = LoadFolder(dir.path());
    }
    EXPECT_EQ(loaded.dictionary, nullptr);
    ASSERT_EQ(loaded.problems.size(), 1u);
    EXPECT_EQ(loaded.problems[0].file, WideToUtf8(dir.path()));
    EXPECT_EQ(loaded.problems[0].line, 0);
    EXPECT_NE(loaded.problems[0].reason.find("out of memory"), std::string::npos)
        << loaded.problems[0].reason;
}

}  // namespace
}  // namespace mirelo::dict

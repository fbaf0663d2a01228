// The Windows library: which value means "no handle" for each owner, and the one conversion
// to Shift-JIS that the dictionary, the host program and the server all go through.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "file_replace.h"
#include "handles.h"
#include "test_files.h"
#include "text_codec.h"

namespace mirelo {
namespace {

TEST(Owners, EachKindKnowsItsOwnEmptyValue) {
    // CreateFile fails with INVALID_HANDLE_VALUE: a file owner holding it owns nothing.
    UniqueFile missing(::CreateFileW(L"C:\\no\\such\\folder\\file.txt", GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    WIN32_FIND_DATAW fd;
    UniqueFind none(::FindFirstFileW(L"C:\\no\\such\\folder\\*", &fd));
    EXPECT_FALSE(none);
    EXPECT_FALSE(UniqueHandle());
    EXPECT_FALSE(UniqueModule());

    // A moved-from owner is empty and the new one closes the handle exactly once.
    UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    const HANDLE raw = event.get();
    UniqueHandle moved(std::move(event));
    EXPECT_FALSE(event);
    EXPECT_EQ(moved.get(), raw);
    moved.reset();
    DWORD flags = 0;
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));
}

// Another process's reader opens the file without sharing its deletion, as a plain open does:
// the rename that replaces the file waits for it, within the patience, and else says why.
TEST(FileReplace, WaitsForAReaderWithinItsPatienceAndKeepsTheOldFileBeyondIt) {
    test::TempDir dir;
    const std::wstring target = dir / L"corrections.txt";
    ASSERT_TRUE(test::WriteBytes(target, "old\r\n"));
    auto holdOpen = [&](DWORD ms) {
        UniqueFile held(::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        EXPECT_TRUE(held);
        ::Sleep(ms);
    };

    std::thread reader(holdOpen, 300);
    ::Sleep(50);
    EXPECT_EQ(ReplaceFileWith(target, "new\r\n"), 0u);
    reader.join();
    EXPECT_EQ(test::ReadBytes(target), "new\r\n");

    std::thread slow(holdOpen, 800);
    ::Sleep(50);
    const DWORD error = ReplaceFileWith(target, "newer\r\n", 200);
    slow.join();
    EXPECT_TRUE(IsFileBusy(error)) << error;
    EXPECT_EQ(test::ReadBytes(target), "new\r\n");
    WIN32_FIND_DATAW fd;
    UniqueFind left(::FindFirstFileW((dir / L"*.tmp").c_str(), &fd));
    EXPECT_FALSE(left) << "a temporary file was left behind";

    std::string bytes = "x";
    EXPECT_EQ(ReadWholeFile(dir / L"absent.txt", bytes), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadWholeFile(dir / L"no\\folder.txt", bytes),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(ReadWholeFile(target, bytes), 0u);
    EXPECT_EQ(bytes, "new\r\n");
}

TEST(FileLock, OneHolderAtATimeAndTheNextWaitsForIt) {
    test::TempDir dir;
    const std::wstring target = dir / L"names.txt";
    DWORD error = 0;
    FileLock first = FileLock::Take(target, 0, &error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(FileLock::Take(target, 100, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_LOCK_VIOLATION));

    std::thread release([&] {
        ::Sleep(200);
        first = FileLock();
    });
    const ULONGLONG start = ::GetTickCount64();
    FileLock second = FileLock::Take(target, 5000, &error);
    release.join();
    EXPECT_TRUE(second) << error;
    EXPECT_GE(::GetTickCount64() - start, 150u);
}

// UTF-8 in, code page 932 bytes out (empty: no form of its own).
struct ShiftJisCase {
    const char* what;
    const char* utf8;
    const char* sjis;
};
constexpr ShiftJisCase kShiftJis[] = {
    {"wave dash U+301C, taken as 0x8160", "\xE3\x80\x9C", "\x81\x60"},
    {"fullwidth tilde U+FF5E, 932's own 0x8160", "\xEF\xBD\x9E", "\x81\x60"},
    {"minus sign U+2212, taken as 0x817C", "\xE2\x88\x92", "\x81\x7C"},
    {"double vertical line U+2016, taken as 0x8161", "\xE2\x80\x96", "\x81\x61"},
    {"kana and half-width kana", "\xE3\x83\x9F\xEF\xBD\xB1", "\x83\x7E\xB1"},
    {"e with acute: only a look-alike", "\xC3\xA9", ""},
    {"Hangul: no form at all", "\xED\x95\x9C", ""},
};

TEST(ShiftJis, DictionaryHostAndServerShareOneRule) {
    for (const ShiftJisCase& c : kShiftJis) {
        const std::string expected = c.sjis;
        std::string exact;
        const bool has = EncodeExactly(kShiftJisCodePage, c.utf8, exact);
        EXPECT_EQ(has, !expected.empty()) << c.what;
        if (has) {
            EXPECT_EQ(exact, expected) << c.what;
        }

        std::string dictionary;
        EXPECT_EQ(dict::SystemEncoders().toShiftJis(c.utf8, dictionary), has) << c.what;
        if (has) {
            EXPECT_EQ(dictionary, expected) << c.what;
        }

        bool lossy = false;
        EXPECT_EQ(programs::Utf8ToShiftJis(c.utf8, &lossy), has ? expected : std::string("?"))
            << c.what;
        EXPECT_EQ(lossy, !has) << c.what;

        const auto runs = programs::SplitByShiftJis(c.utf8);
        ASSERT_EQ(runs.size(), 1u) << c.what;
        EXPECT_EQ(runs[0].keep, !has) << c.what;
        EXPECT_EQ(runs[0].text, has ? expected : std::string(c.utf8)) << c.what;
    }
}

TEST(ShiftJis, OnlyCharactersWithoutAFormBecomeQuestionMarks) {
    bool lossy = false;
    // 勇é〜: the kanji and the wave dash survive around the look-alike.
    EXPECT_EQ(programs::Utf8ToShiftJis("\xE5\x8B\x87\xC3\xA9\xE3\x80\x9C", &lossy),
              "\x97\x45?\x81\x60");
    EXPECT_TRUE(lossy);
    EXPECT_EQ(programs::Utf8ToShiftJis("a\xFF"
                                       "b",
                                       &lossy),
              "a?b");  // not UTF-8
    EXPECT_TRUE(lossy);
    EXPECT_EQ(WideToUtf8(Utf8ToWide("\xEB\xAF\xB8 ok")), "\xEB\xAF\xB8 ok");
}

}  // namespace
}  // namespace mirelo

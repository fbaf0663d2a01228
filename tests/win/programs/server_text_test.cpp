// The server's text handling and the library-file reader behind --diagnose, on edge cases.
#include <gtest/gtest.h>

#include "frames.h"
#include "iat_hook.h"
#include "launcher.h"
#include "pe_exports.h"
#include "test_support.h"
#include "text_codec.h"
#include "text_plan.h"

using namespace mirelo::test;

namespace {

TEST(ServerText, Utf8IsCheckedStrictly) {
    const struct {
        const char* bytes;
        bool valid;
    } cases[] = {
        {"plain \xE5\x8B\x87\xE8\x80\x85", true},
        {"\xF0\x9F\x98\x80", true},   // 勇者, an emoji
        {"\xC0\x80", false},          // overlong NUL
        {"\xE0\x80\xAF", false},      // overlong '/'
        {"\xED\xA0\x80", false},      // a surrogate
        {"\xF4\x90\x80\x80", false},  // past U+10FFFF
        {"\xE5\x8B", false},          // cut short
        {"\x80", false},              // a lone tail
    };
    for (const auto& c : cases) EXPECT_EQ(server::IsValidUtf8(c.bytes), c.valid) << Hex(c.bytes);
}

TEST(ServerText, QueryValueDecodesTheFirstTextParameter) {
    bool bad = false;
    EXPECT_EQ(server::QueryValue("from=ja&to=ko&text=%E5%8B%87+x%2B", "text", bad),
              "\xE5\x8B\x87 x+");
    EXPECT_EQ(server::QueryValue("text=a&text=b", "text", bad), "a");
    EXPECT_EQ(server::QueryValue("texts=a&tex=b", "text", bad), std::nullopt);
    EXPECT_FALSE(bad);
    EXPECT_EQ(server::QueryValue("text=", "text", bad), "");
    for (const char* broken : {"text=%E5%8", "text=%G0", "text=%"}) {
        EXPECT_EQ(server::QueryValue(broken, "text", bad), std::nullopt) << broken;
        EXPECT_TRUE(bad) << broken;
    }
}

// 4096 bytes is the plug-in's limit; pieces must keep to it and never part a two-byte character.
TEST(ServerText, LongShiftJisLinesAreCutAtSentenceEndsOrCharacters) {
    const std::string sentence = "\x97\x45\x8E\xD2\x81\x42";  // 勇者。
    const std::string quoted = sentence + "\x81\x76";         // 勇者。」
    const std::string asked = "\x97\x45\x8E\xD2\x81\x48";     // 勇者？ (full width)
    struct Case {
        std::string text;
        std::size_t firstPiece;
    } cases[] = {
        // 700 sentences of 6 bytes: the last end within 4096 bytes is after 682 of them.
        {[&] {
             std::string s;
             for (int i = 0; i < 700; ++i) s += sentence;
             return s;
         }(),
         4092},
        // A full-width question mark ends a sentence as 。 does.
        {[&] {
             std::string s;
             for (int i = 0; i < 700; ++i) s += asked;
             return s;
         }(),
         4092},
        // A closing bracket after the end stays with its sentence.
        {[&] {
             std::string s;
             for (int i = 0; i < 600; ++i) s += quoted;
             return s;
         }(),
         4096},
        // No sentence end, 3000 two-byte characters: cut at the last whole one.
        {[&] {
             std::string s;
             for (int i = 0; i < 3000; ++i) s += "\x82\xA0";
             return s;
         }(),
         4096},
        // One ASCII byte first shifts every boundary by one: 4095, never 4096.
        {[&] {
             std::string s = "a";
             for (int i = 0; i < 3000; ++i) s += "\x82\xA0";
             return s;
         }(),
         4095},
    };
    for (const Case& c : cases) {
        auto pieces = server::SplitShiftJis(c.text, 4096);
        ASSERT_GE(pieces.size(), 2u);
        EXPECT_EQ(pieces[0].size(), c.firstPiece);
        std::string joined;
        for (auto p : pieces) {
            EXPECT_LE(p.size(), 4096u);
            joined += p;
        }
        EXPECT_EQ(joined, c.text);
    }
    EXPECT_EQ(server::SplitShiftJis("abc", 4096).size(), 1u);
    EXPECT_TRUE(server::SplitShiftJis("", 4096).empty());
}

// The server's lines and blanks follow the extension's and the host's rules: a last CR alone
// is an end (it used to reach the engine), and a line of ideographic spaces is blank.
TEST(ServerText, LinesAndBlanksFollowTheProgramsOneRule) {
    const struct {
        std::string_view text;
        std::vector<std::pair<std::string_view, std::string_view>> lines;
    } cases[] = {
        {"a\r", {{"a", "\r"}}},
        {"a\r\nb", {{"a", "\r\n"}, {"b", ""}}},
        {"x\ry\r\r\n", {{"x\ry\r", "\r\n"}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<std::string_view, std::string_view>> got;
        for (const server::Line& l : server::SplitLines(c.text)) got.emplace_back(l.text, l.end);
        EXPECT_EQ(got, c.lines) << c.text;
    }
    EXPECT_TRUE(programs::IsBlank(std::string_view("\xE3\x80\x80 \t\r")));
    EXPECT_TRUE(programs::IsBlank(std::wstring_view(L"\x3000 \t\r\n")));
    EXPECT_FALSE(programs::IsBlank(std::string_view("\xE3\x80\x81")));  // 、 is text
    EXPECT_FALSE(programs::IsBlank(std::string_view("\xE3\x80")));      // a cut-off mark
}

TEST(ServerText, WhatShiftJisCannotCarryIsKeptInPlace) {
    // "café 😀 勇者", a NUL, then 勇: é would become 'e' by best fit, the emoji '?'.
    const std::string text = std::string("caf\xC3\xA9 \xF0\x9F\x98\x80 \xE5\x8B\x87\xE8\x80\x85") +
                             '\0' + "\xE5\x8B\x87";
    const auto runs = programs::SplitByShiftJis(text);
    ASSERT_EQ(runs.size(), 7u);
    const std::pair<bool, std::string> expected[] = {{false, "caf"},
                                                     {true, "\xC3\xA9"},
                                                     {false, " "},
                                                     {true, "\xF0\x9F\x98\x80"},
                                                     {false, " \x97\x45\x8E\xD2"},
                                                     {true, std::string(1, '\0')},
                                                     {false, "\x97\x45"}};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].keep, expected[i].first) << i;
        EXPECT_EQ(runs[i].text, expected[i].second) << i;
    }
    // 〜 (U+301C) has a Shift-JIS form, under its full-width twin's code.
    const auto dash = programs::SplitByShiftJis("\xE5\x8B\x87\xE3\x80\x9C");
    ASSERT_EQ(dash.size(), 1u);
    EXPECT_EQ(dash[0].text, "\x97\x45\x81\x60");
}

TEST(ServerText, DamagedLibraryFilesAreReadSafely) {
    const std::string dll = ReadBytes(BinDir() + L"\\J2KEngine.dll");
    ASSERT_GT(dll.size(), 1024u);
    const programs::PeImage whole = programs::ReadPeImage(dll);
    EXPECT_EQ(whole.kind, programs::PeKind::k32Bit);
    EXPECT_EQ(whole.names.size(), 5u);
    // Every cut of the file, and the file with its export directory pointed far away.
    for (std::size_t n = 0; n < dll.size(); n += 97) {
        const programs::PeImage cut = programs::ReadPeImage(std::string_view(dll).substr(0, n));
        EXPECT_TRUE(cut.kind == programs::PeKind::kNotPe || cut.names.size() <= 5u);
    }
    std::string broken = dll;
    const uint32_t pe =
        static_cast<unsigned char>(dll[0x3C]) | static_cast<unsigned char>(dll[0x3D]) << 8;
    for (int i = 0; i < 4; ++i) broken[pe + 24 + 96 + i] = '\x7F';  // export table address
    const programs::PeImage moved = programs::ReadPeImage(broken);
    EXPECT_EQ(moved.kind, programs::PeKind::k32Bit);
    EXPECT_TRUE(moved.names.empty());
    EXPECT_FALSE(moved.problem.empty());
}

TEST(WorkerFrames, LengthIsCheckedAgainstTheBoundBeforeAnythingIsRead) {
    const struct {
        unsigned char header[4];
        std::optional<std::uint32_t> length;
    } cases[] = {
        {{0, 0, 0, 0}, 0u},
        {{0x34, 0x12, 0, 0}, 0x1234u},             // little-endian
        {{0, 0, 0x10, 0}, 1u << 20},               // the bound itself
        {{1, 0, 0x10, 0}, std::nullopt},           // one past it
        {{0xFF, 0xFF, 0xFF, 0xFF}, std::nullopt},  // what a stray text would announce
    };
    for (const auto& c : cases) EXPECT_EQ(server::FrameLength(c.header), c.length);
    const std::string frame = server::EncodeFrame("\x82\xA0");
    EXPECT_EQ(frame, std::string("\x02\0\0\0\x82\xA0", 6));
}

TEST(WorkerFrames, RepliesRoundTripAndMalformedOnesAreRefused) {
    const server::LineReply sent{server::Reply::kTranslated, true, 0x01020304, "\xEC\x9A\xA9"};
    const auto back = server::DecodeReply(server::EncodeReply(sent));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->reply, sent.reply);
    EXPECT_EQ(back->cacheHit, true);
    EXPECT_EQ(back->micros, 0x01020304u);
    EXPECT_EQ(back->text, sent.text);
    const std::string bad[] = {
        "",                             // nothing
        std::string("T1\0\0\0", 5),     // too short for the time
        std::string("X0\0\0\0\0", 6),   // no such reply
        std::string("T2\0\0\0\0", 6),   // no such cache mark
        std::string("G0\0\0\0\0x", 7),  // a line given up on carries no text
    };
    for (const std::string& b : bad) EXPECT_FALSE(server::DecodeReply(b)) << Hex(b);
    EXPECT_EQ(server::DecodeStarted("R")->result, server::StartResult::kReady);
    EXPECT_EQ(server::DecodeStarted("Fno plug-in")->result, server::StartResult::kLoadFailed);
    EXPECT_EQ(server::DecodeStarted("Ino engine")->result, server::StartResult::kInitFailed);
    EXPECT_EQ(server::DecodeStarted("Ino engine")->message, "no engine");
    EXPECT_FALSE(server::DecodeStarted("started"));
}

BOOL WINAPI NoHandleList(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID,
                         PSIZE_T) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
DWORD WINAPI NoResume(HANDLE) {
    SetLastError(ERROR_ACCESS_DENIED);
    return static_cast<DWORD>(-1);
}

// A worker that would inherit every handle of the server, or would stay suspended, is no start.
TEST(WorkerLaunch, AStartWithoutItsSafetyNetsIsRefusedWithTheStep) {
    const struct {
        const char* function;
        const void* replacement;
        DWORD code;
    } cases[] = {
        {"UpdateProcThreadAttribute", reinterpret_cast<const void*>(&NoHandleList),
         ERROR_NOT_SUPPORTED},
        {"ResumeThread", reinterpret_cast<const void*>(&NoResume), ERROR_ACCESS_DENIED},
    };
    wchar_t system[MAX_PATH];
    ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        server::Launcher launcher(std::wstring(system) + L"\\cmd.exe", L"Mirelo.dll", "");
        IatHook hook(GetModuleHandleW(nullptr), "kernel32.dll", c.function, c.replacement);
        ASSERT_TRUE(hook.Installed());
        std::string why;
        const auto launched = launcher.Launch(true, {}, &why);
        EXPECT_FALSE(launched.has_value());
        EXPECT_EQ(GetLastError(), c.code);
        EXPECT_NE(why.find(c.function), std::string::npos) << why;
        EXPECT_NE(why.find(std::to_string(c.code)), std::string::npos) << why;
    }
}

}  // namespace

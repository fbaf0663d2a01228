// The server's text handling and the library-file reader behind --diagnose, on edge cases.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "event_log.h"
#include "job_queue.h"
#include "frames.h"
#include "iat_hook.h"
#include "launcher.h"
#include "pe_exports.h"
#include "test_support.h"
#include "text_codec.h"
#include "text_plan.h"
#include "web_words.h"
#include "workbench_security.h"

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
    // A name is decoded as its value is; a path keeps its '+'.
    EXPECT_EQ(server::QueryValue("g%61me=x&game=y", "game", bad), "x");
    EXPECT_EQ(server::PercentDecode("a+b%2Fc", false), "a+b/c");
}

TEST(ServerText, OneMediaTypeRuleForEveryRoute) {
    for (const char* given : {"application/json", "Application/JSON; charset=UTF-8",
                              " application/json ;charset=utf-8", "APPLICATION/JSON\t"})
        EXPECT_EQ(server::MediaType(given), "application/json") << given;
    EXPECT_EQ(server::MediaType("text/plain;charset=utf-8"), "text/plain");
    EXPECT_EQ(server::MediaType(""), "");
    EXPECT_EQ(server::MediaType("application/jsonx"), "application/jsonx");
}

TEST(ServerText, TheHostMustNameThisServerWithItsPortOrNone) {
    const server::HostRule rule{14366, false, {}};
    for (const char* host :
         {"127.0.0.1:14366", "127.0.0.1", "localhost", "LocalHost:14366", "[::1]", "[::1]:14366"})
        EXPECT_EQ(server::CheckHost(rule, host, true, 11), std::nullopt) << host;
    for (const char* host :
         {"evil.example", "evil.example:14366", "127.0.0.1:14367", "localhost.evil.example",
          "127.0.0.1.evil.example:14366", "192.168.1.9:14366", "", ":14366"}) {
        const auto no = server::CheckHost(rule, host, true, 11);
        EXPECT_EQ(no ? no->status : 0, 421) << host;
    }
    // HTTP/1.1 must send a Host field; HTTP/1.0 may leave it out.
    const auto missing = server::CheckHost(rule, "", false, 11);
    EXPECT_EQ(missing ? missing->status : 0, 400);
    EXPECT_EQ(server::CheckHost(rule, "", false, 10), std::nullopt);
}

TEST(ServerText, ARequestABrowserSendsForAnotherSiteIsRefused) {
    const server::HostRule rule{14366, false, "http://localhost:8080"};
    const struct {
        const char* origin;  // nullptr: not sent
        const char* fetchSite;
        bool workbenchPath;
        bool served;
    } cases[] = {
        {nullptr, "", false, true},                             // a program
        {nullptr, "none", true, true},                          // the player typed the address
        {"http://127.0.0.1:14366", "same-origin", true, true},  // the page itself
        {"HTTP://127.0.0.1:14366", "", true, true},
        {nullptr, "same-origin", true, true},
        {"http://evil.example", "", false, false},  // a simple POST to /translate
        {"http://evil.example", "cross-site", true, false},
        {"null", "cross-site", false, false},                   // a sandboxed frame
        {"http://127.0.0.1:14367", "same-site", false, false},  // another port on the loopback
        {nullptr, "cross-site", true, false},                   // an <img> of /api/export
        {nullptr, "Same-Site", false, false},
        {"http://localhost:8080", "same-site", false, true},  // --cors, on /translate
        {"http://localhost:8080", "same-site", true, false},  // ...never on /api/
    };
    for (const auto& c : cases) {
        const auto no = server::CheckSite(rule, "127.0.0.1:14366", c.origin ? c.origin : "",
                                          c.origin != nullptr, c.fetchSite, c.workbenchPath);
        EXPECT_EQ(!no, c.served) << (c.origin ? c.origin : "-") << " " << c.fetchSite;
        if (no) {
            EXPECT_EQ(no->status, 403);
            EXPECT_FALSE(no->reason.empty());
        }
    }
    // Without --cors that origin is another site like any.
    EXPECT_TRUE(server::CheckSite({14366, false, {}}, "127.0.0.1:14366", "http://localhost:8080",
                                  true, "same-site", false));
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

namespace server_log {

std::uintmax_t SizeOf(const std::wstring& path) {
    std::error_code ec;
    const std::uintmax_t n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

// Past 4 MiB the log moves to mirelo-server.log.1 and starts again; the size it counts goes
// with it, and a log opened again counts what the file already holds.
TEST(ServerEventLog, RotatesAtFourMiBCountingTheFileItOpens) {
    TempDir dir;
    const std::wstring log = dir / L"mirelo-server.log", old = log + L".1";
    const std::string text(8000, 'x');
    // "YYYY-MM-DD HH:MM:SS [test] " + text + "\n"; fewer than the writer's queue holds.
    const std::uintmax_t line = 19 + 8 + text.size() + 1;
    const std::uintmax_t fit = (std::uintmax_t{4} << 20) / line;  // lines in a full file
    {
        server::EventLog events(dir.path(), [](const std::string&) {});
        for (std::uintmax_t i = 0; i < fit + 78; ++i) events.Add("test", text, false);
    }
    EXPECT_EQ(SizeOf(old), fit * line);
    EXPECT_EQ(SizeOf(log), 78 * line);
    {
        server::EventLog events(dir.path(), [](const std::string&) {});
        for (std::uintmax_t i = 0; i < fit - 78 + 6; ++i) events.Add("test", text, false);
    }
    EXPECT_EQ(SizeOf(old), fit * line);
    EXPECT_EQ(SizeOf(log), 6 * line);
}

// A console held still (a selection in it) stalls only the log's writer: events are taken at
// once, those past its queue counted, and every one is either in the file or in that count.
TEST(ServerEventLog, AHeldConsoleStallsNobodyAndLostEventsAreCounted) {
    TempDir dir;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    constexpr int kEvents = 3000;
    // Let go after 3 s whatever happens, so that a log that waits on it still ends.
    std::thread selection([&release] {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        release.set_value();
    });
    {
        server::EventLog events(dir.path(), [released](const std::string&) { released.wait(); });
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kEvents; ++i) events.Add("test", "event " + std::to_string(i));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(events.Recent().size(), server::kRecentEvents);
    }
    selection.join();
    const std::string written = ReadBytes(dir / L"mirelo-server.log");
    int logged = 0;
    long lost = 0;
    for (const std::string& l : SplitLines(written)) {
        if (l.find(" [test] event ") != std::string::npos) ++logged;
        const std::size_t at = l.find(" [log] ");
        const std::size_t digit = l.find_first_of("0123456789", at + 1);  // in either language
        if (at != std::string::npos) lost += std::stol(l.substr(digit));
    }
    EXPECT_GT(lost, 0);
    EXPECT_EQ(logged + lost, kEvents);
}

}  // namespace server_log

namespace server_jobs {

// The workbench's threads take 32 waiting requests each (the README's bound) besides the one
// running; past it the request is refused at once. A job that throws ends only itself.
TEST(ServerJobQueue, HoldsThirtyTwoWaitingAndRefusesTheNext) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> ran{0};
    std::promise<void> started;
    server::JobQueue queue(32);
    ASSERT_EQ(queue.Post([&] {
        started.set_value();
        released.wait();
        throw std::runtime_error("a job that fails");
    }),
              server::JobQueue::Put::kQueued);
    started.get_future().wait();  // the first one runs: the rest wait
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(queue.Post([&] { ++ran; }), server::JobQueue::Put::kQueued) << i;
    EXPECT_EQ(queue.Post([&] { ++ran; }), server::JobQueue::Put::kFull);
    release.set_value();
    for (int i = 0; i < 500 && ran < 32; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ran, 32);
    queue.Stop();
    EXPECT_EQ(queue.Post([&] { ++ran; }), server::JobQueue::Put::kStopping);
}

}  // namespace server_jobs

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

#include "engine_folder.h"
#include "engine_guard.h"
#include "test_support.h"

using namespace mirelo::test;
using namespace tooltest;

namespace {

using InitFn = int(__stdcall*)(const char*, const char*);
using TranslateFn = char*(__stdcall*)(int, const char*);
using FreeFn = int(__stdcall*)(char*);
using StopFn = int(__stdcall*)(int);
using TerminateFn = int(__stdcall*)();

constexpr char kKey[] = "TESTKEY12345";

std::string Ptr(const void* p) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(p)));
    return buf;
}

// The stand-in engine loaded straight from an engine folder of its own.
class Engine {
  public:
    explicit Engine(const std::string& script, const wchar_t* dll = kEngineDll)
        : m_folder(script, dll), m_module(m_folder.Root() + L"\\J2KEngine.dll") {
        init = m_module.proc<InitFn>("J2K_InitializeEx");
        translate = m_module.proc<TranslateFn>("J2K_TranslateMMNT");
        freeMem = m_module.proc<FreeFn>("J2K_FreeMem");
        stop = m_module.proc<StopFn>("J2K_StopTranslation");
        terminate = m_module.proc<TerminateFn>("J2K_Terminate");
    }
    std::wstring DataDir() const { return m_folder.DataDir(); }
    std::string DataPath() const { return Narrow(DataDir()); }
    int Init() const { return init(kKey, DataPath().c_str()); }
    std::vector<std::string> Log() const { return m_folder.Log(); }
    bool loaded() const { return m_module.get() != nullptr; }

    // Translates and copies the answer; nullopt for a null result. Frees what it got.
    std::optional<std::string> Ask(const std::string& in) const {
        char* r = translate(0, in.c_str());
        if (!r) return std::nullopt;
        std::string out = r;
        freeMem(r);
        return out;
    }

    InitFn init{};
    TranslateFn translate{};
    FreeFn freeMem{};
    StopFn stop{};
    TerminateFn terminate{};

  private:
    EngineFolder m_folder;
    Module m_module;
};

TEST(StandInEngine, ScriptedRulesDecideEachAnswer) {
    Engine e(
        "# rules\n"
        "mode scripted   # trailing comment\n"
        "\n"
        "map 2861 4142\n"
        "map 78 -\n"
        "null 6E756C6C\n"
        "otherwise null\n");
    ASSERT_TRUE(e.loaded());
    EXPECT_EQ(e.Init(), 1);
    const struct {
        const char* in;
        std::optional<std::string> out;
    } cases[] = {
        {"(a", "AB"},           {"x", ""},  // mapped to the empty text, which is not a null
        {"null", std::nullopt}, {"unlisted", std::nullopt},  // otherwise null
        {"(a ", std::nullopt},                               // rules match exact inputs only
    };
    for (const auto& c : cases) EXPECT_EQ(e.Ask(c.in), c.out) << c.in;
}

TEST(StandInEngine, UnmatchedInputIsEchoedByDefault) {
    Engine e("mode scripted\n");
    e.Init();
    EXPECT_EQ(e.Ask("abc _&040&_ \x82\xA0"), "abc _&040&_ \x82\xA0");
}

TEST(StandInEngine, CallLogHasOneLineOfTheFixedShapePerCall) {
    Engine e("mode scripted\nlog calls.log\nnull 6E\n");
    ASSERT_EQ(e.Init(), 1);
    char* a = e.translate(0, "hi");
    char* n = e.translate(7, "n");
    char empty[] = "";
    char* z = e.translate(0, empty);
    EXPECT_EQ(n, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(e.stop(0), 1);
    EXPECT_EQ(e.freeMem(a), 1);
    EXPECT_EQ(e.freeMem(z), 1);
    EXPECT_EQ(e.stop(3), 1);
    EXPECT_EQ(e.terminate(), 1);

    const std::vector<std::string> want = {
        "init key=TESTKEY12345 path=" + Hex(e.DataPath()),
        "translate arg=0 in=6869 out=" + Ptr(a),
        "translate arg=7 in=6E out=null",
        "translate arg=0 in=- out=" + Ptr(z),
        "stop arg=0 outstanding=2",
        "free ptr=" + Ptr(a),
        "free ptr=" + Ptr(z),
        "stop arg=3 outstanding=0",
        "terminate",
    };
    EXPECT_EQ(e.Log(), want);
}

TEST(StandInEngine, FreeingAnythingButAnOutstandingResultIsAViolation) {
    Engine e("mode scripted\nlog calls.log\n");
    e.Init();
    char* r = e.translate(0, "x");
    ASSERT_NE(r, nullptr);
    char foreign[] = "not ours";
    EXPECT_EQ(e.freeMem(r), 1);
    EXPECT_EQ(e.freeMem(r), 0);  // double free
    EXPECT_EQ(e.freeMem(foreign), 0);
    EXPECT_EQ(e.freeMem(nullptr), 0);
    EXPECT_STREQ(foreign, "not ours");  // left alone, not freed or poisoned
    e.stop(0);

    auto log = e.Log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[2], "free ptr=" + Ptr(r));
    EXPECT_EQ(log[3], "violation free ptr=" + Ptr(r));
    EXPECT_EQ(log[4], "violation free ptr=" + Ptr(foreign));
    EXPECT_EQ(log[5], "violation free ptr=0x00000000");
    EXPECT_EQ(log[6], "stop arg=0 outstanding=0");
}

TEST(StandInEngine, ResultsStayValidUntilFreedAndInputsAreNotKept) {
    Engine e("mode scripted\n");
    e.Init();
    char in[] = "first";
    char* a = e.translate(0, in);
    std::strcpy(in, "later");
    char* b = e.translate(0, in);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_STREQ(a, "first");
    EXPECT_STREQ(b, "later");
    e.freeMem(b);
    EXPECT_STREQ(a, "first");
    e.freeMem(a);
}

TEST(StandInEngine, DataPathIsCopiedDuringInitialisation) {
    Engine e("mode scripted\nlog calls.log\n");
    std::string path = e.DataPath();
    std::vector<char> buf(path.begin(), path.end());
    buf.push_back('\0');
    ASSERT_EQ(e.init(kKey, buf.data()), 1);
    std::fill(buf.begin(), buf.end() - 1, 'Z');
    e.terminate();
    auto log = e.Log();  // still written to the original folder
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "terminate");
}

TEST(StandInEngine, CallsBeforeAnyInitialisationUseTheDatFolderBesideTheLibrary) {
    Engine e("mode scripted\nlog calls.log\nmap 61 62\n", L"J2KEngine_nofreemem.dll");
    ASSERT_EQ(e.freeMem, nullptr);
    EXPECT_STREQ(e.translate(0, "a"), "b");
    e.stop(0);
    auto log = e.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].rfind("translate arg=0 in=61 out=0x", 0), 0u) << log[0];
    EXPECT_EQ(log[1], "stop arg=0 outstanding=1");  // this variant cannot free
}

TEST(StandInEngine, OversizeGivesPlainTextOfTheAskedLength) {
    Engine e("mode scripted\noversize 626967 100000\noversize 30 0\n");
    e.Init();
    auto big = e.Ask("big");
    ASSERT_TRUE(big);
    ASSERT_EQ(big->size(), 100000u);
    EXPECT_EQ(
        big->find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
        std::string::npos);
    EXPECT_EQ(e.Ask("0"), "");
}

TEST(StandInEngine, DelaysApplyPerInputAndToEveryInput) {
    const struct {
        const char* script;
        const char* in;
        DWORD atLeast, below;
    } cases[] = {
        // Lower bounds leave room for the coarse timers under Wine.
        {"mode scripted\ndelay 736C6F77 400\n", "slow", 360, 3000},
        {"mode scripted\ndelay 736C6F77 400\n", "fast", 0, 300},
        {"mode scripted\ndelay * 250\ndelay 71 0\n", "any", 210, 3000},
        {"mode scripted\ndelay * 250\ndelay 71 0\n", "q", 0, 200},  // the exact rule wins
    };
    for (const auto& c : cases) {
        Engine e(c.script);
        e.Init();
        DWORD t0 = GetTickCount();
        EXPECT_EQ(e.Ask(c.in), c.in);
        DWORD took = GetTickCount() - t0;
        EXPECT_GE(took, c.atLeast) << c.script << c.in;
        EXPECT_LT(took, c.below) << c.script << c.in;
    }
}

unsigned long long ThreadCpuMs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000;
}

TEST(StandInEngine, BurnsHoldTheCallingThreadOnTheCpu) {
    const struct {
        const char* script;
        const char* in;
        unsigned long long cpuAtLeast, cpuBelow;  // ms of the calling thread's CPU time
    } cases[] = {
        // Thread times tick coarsely under Wine: the bounds leave a tick either side.
        {"mode scripted\nburn 686F74 300000\n", "hot", 280, 3000},
        {"mode scripted\nburn 686F74 300000\n", "cold", 0, 60},
        {"mode scripted\nburn * 200000\nburn 71 0\n", "any", 180, 3000},
        {"mode scripted\nburn * 200000\nburn 71 0\n", "q", 0, 60},  // the exact rule wins
    };
    for (const auto& c : cases) {
        Engine e(c.script);
        ASSERT_EQ(e.Init(), 1) << c.script;
        const unsigned long long before = ThreadCpuMs();
        EXPECT_EQ(e.Ask(c.in), c.in);
        const unsigned long long used = ThreadCpuMs() - before;
        EXPECT_GE(used, c.cpuAtLeast) << c.script << c.in;
        EXPECT_LT(used, c.cpuBelow) << c.script << c.in;
    }
}

TEST(StandInEngine, MalformedScriptFailsInitialisationButKeepsTheGoodLines) {
    const char* bad[] = {
        "mode scripted\nmap 2 41\n",       // odd hex
        "mode scripted\nmap 4G 41\n",      // not hex
        "mode scripted\nnull\n",           // missing argument
        "mode scripted\ndelay 41 soon\n",  // not a number
        "mode scripted\noversize 41 99999999999\n",
        "mode fancy\n",
        "otherwise maybe\n",
        "mode scripted\nfrobnicate 41\n",
        "mode scripted\nburn 41\n",           // missing time
        "mode scripted\nburn * 600000001\n",  // over ten minutes
        "mode scripted\nburn 4 100\n",        // odd hex
    };
    for (const char* s : bad) {
        Engine e(std::string(s) + "map 61 62\n");
        EXPECT_EQ(e.Init(), 0) << s;
        EXPECT_EQ(e.Ask("a"), "b") << s;
    }
}

TEST(StandInEngine, InitialisingAgainReadsTheScriptAgain) {
    Engine e("mode scripted\nmap 61 62\n");
    e.Init();
    EXPECT_EQ(e.Ask("a"), "b");
    WriteBytes(e.DataDir() + L"\\standin.txt", "mode scripted\n");
    e.Init();
    EXPECT_EQ(e.Ask("a"), "a");
}

TEST(StandInEngine, VariantsLackExactlyTheirOneExport) {
    const char* all[] = {"J2K_InitializeEx", "J2K_TranslateMMNT", "J2K_FreeMem",
                         "J2K_StopTranslation", "J2K_Terminate"};
    const struct {
        const wchar_t* dll;
        const char* missing;
    } cases[] = {
        {L"J2KEngine.dll", nullptr},
        {L"J2KEngine_noterminate.dll", "J2K_Terminate"},
        {L"J2KEngine_nofreemem.dll", "J2K_FreeMem"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(
            CopyFileW((BinDir() + L"\\" + c.dll).c_str(), (dir / L"J2KEngine.dll").c_str(), FALSE));
        Module m(dir / L"J2KEngine.dll");
        ASSERT_NE(m.get(), nullptr);
        for (const char* name : all) {
            bool expectMissing = c.missing && std::strcmp(name, c.missing) == 0;
            EXPECT_EQ(GetProcAddress(m.get(), name) == nullptr, expectMissing)
                << Narrow(c.dll) << " " << name;
        }
    }
}

TEST(StandInEngine, DemoModeTranslatesKnownLines) {
    Engine e("");  // no standin.txt
    EXPECT_EQ(e.Init(), 1);
    const struct {
        const char* sjis;
        const char* cp949;
    } cases[] = {
        // Phrase book with its notes after word and particle, particles that follow the final
        // consonant, doubled spaces.
        {"\x97\x45\x8E\xD2\x82\xCD\x96\x82\x89\xA4\x82\xF0\x93\x7C\x82\xB5\x82\xBD\x81\x42",
         "\xBF\xEB\xBB\xE7\xB4\xC2 (\xC1\xD6: \xC1\xD6\xC0\xCE\xB0\xF8)  "
         "\xB8\xB6\xBF\xD5\xC0\xBB [\xB8\xB6\xBF\xC0]  \xBE\xB2\xB7\xAF\xB6\xDF\xB7\xC8\xB4\xD9."},
        // Katakana spelt in Hangul; a full-width mark carried over.
        {"\x83\x58\x83\x89\x83\x43\x83\x80\x82\xAA\x8C\xBB\x82\xEA\x82\xBD\x81\x49",
         "\xBD\xBA\xB6\xF3\xC0\xCC\xB9\xAB\xB0\xA1 \xB3\xAA\xC5\xB8\xB3\xB5\xB4\xD9\xA3\xA1"},
        // A space before the comma; small tsu closes the syllable before it.
        {"\x83\x53\x81\x5B\x83\x8B\x83\x68\x82\xF0\x8E\xE8\x82\xC9\x93\xFC\x82\xEA\x82\xBD\x81"
         "\x41\x82\xE2\x82\xC1\x82\xBD",
         "\xB0\xF1\xB5\xE5\xB8\xA6  \xBC\xD5\xBF\xA1 \xB3\xD6\xBE\xFA\xB4\xD9 ,\xBE\xE6\xC5\xB8"},
        // Half-width katakana with a separate voicing mark.
        {"\xBD\xD7\xB2\xD1\xB6\xDE", "\xBD\xBA\xB6\xF3\xC0\xCC\xB9\xAB\xB0\xA1"},
        // Small ya and yo fold into the syllable before them.
        {"\x82\xB5\x82\xE1\x82\xBF\x82\xE5\x82\xA4", "\xBB\xFE\xC3\xCA\xBF\xEC"},
        // A kanji carried over as hanja; an ideographic space after a full stop mid-line.
        {"\x8E\x52\x82\xCC\x91\xBA\x81\x42\x82\xCD\x82\xA2",
         "\xDF\xA3\xC0\xC7 \xB8\xB6\xC0\xBB.\xA1\xA1\xB3\xD7"},
        // Corner brackets with spaces inside, an engine note in square brackets.
        {"\x81\x75\x83\x5A\x81\x5B\x83\x75\x81\x76", "\xA1\xB8 \xC0\xFA\xC0\xE5[SAVE] \xA1\xB9"},
    };
    for (const auto& c : cases) EXPECT_EQ(e.Ask(c.sjis), c.cp949) << Hex(c.sjis);
}

// UTF-8 text in a code page, for cases that read better as text; every character must fit.
std::string InCodePage(UINT cp, const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.data(), n);
    BOOL lost = FALSE;
    const int m =
        WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0, nullptr, &lost);
    std::string out(m > 0 ? m : 1, '\0');
    WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, out.data(), m, nullptr, &lost);
    EXPECT_FALSE(lost) << utf8;
    out.resize(m > 0 ? m - 1 : 0);
    return out;
}

struct DemoCase {
    const char* ja;  // UTF-8, asked in Shift-JIS
    const char* ko;  // UTF-8, expected in CP949
};

void ExpectDemo(const std::vector<DemoCase>& cases) {
    Engine e("");
    ASSERT_EQ(e.Init(), 1);
    for (const DemoCase& c : cases)
        EXPECT_EQ(e.Ask(InCodePage(932, c.ja)), InCodePage(949, c.ko)) << c.ja;
}

TEST(StandInEngine, DemoModeParticleAfterAMarkerOrAsciiWordIsAParticle) {
    ExpectDemo({
        // After a name marker each particle keeps its vowel form, for the plug-in to agree.
        {"_&00000&_は見た。", "_&00000&_는  보았다."},
        {"_&00000&_が見た。", "_&00000&_가 보았다."},
        {"_&00000&_を見た。", "_&00000&_를  보았다."},
        {"_&00000&_と見た。", "_&00000&_와 보았다."},
        {"_&00000&_へ行こう", "_&00000&_로 가자"},
        {"_&00000&_で見た。", "_&00000&_에서 보았다."},
        // After letters and digits, the form their Korean reading takes.
        {"HPが", "HP가 "},
        {"10は", "10은  "},
        {"Lvを", "Lv를  "},
        {"7へ", "7로 "},
        {"3へ", "3으로 "},
        {"12:30に見た", "12:30에 보았다"},
        // After a space or a mark there is no word to attach to: kana are spelt.
        {"_&00000&_ は", "_&00000&_ 하"},
        {"!は", "!하"},
        // 으로/로 after the engine's own words, ㄹ taking 로.
        {"城へ", "성으로 "},
        {"村へ", "마을로 "},
    });
}

TEST(StandInEngine, DemoModeNoteBetweenWordsStandsBetweenSpaces) {
    ExpectDemo({
        {"魔王 勇者", "마왕 [마오] 용사(주: 주인공)"},
        {"勇者・魔王", "용사 (주: 주인공) 마왕[마오]"},
        {"魔王は 勇者", "마왕은 [마오] 용사(주: 주인공)"},  // one space is enough
        // Before a mark, or at the end, it stays on its word.
        {"魔王、勇者", "마왕[마오] ,용사(주: 주인공)"},
        {"魔王は、", "마왕은[마오] ,"},
        {"「セーブ」", "「 저장[SAVE] 」"},
    });
}

TEST(StandInEngine, DemoModeWritesUnknownKanjiAsHanja) {
    Engine e("");
    ASSERT_EQ(e.Init(), 1);
    const struct {
        const char* sjis;
        const char* cp949;
    } cases[] = {
        {"\x89\xEF", "\xFC\xE5"},                   // 会 -> 會: CP949 has the older form only
        {"\x97\x88", "\xD5\xCE"},                   // 来 -> 來
        {"\x8D\xE7", "\xE1\xC5"},                   // 咲 -> 笑
        {"\x8D\xF7\x82\xAA", "\xE5\xA1\xB0\xA1 "},  // 桜が -> 櫻가, a particle after it
        {"\x8C\xA9", "\xCC\xB8"},                   // 見: the same character
        {"\x90\x6C\x81\x58", "\xEC\xD1\xEC\xD1"},   // 人々 -> 人人
        {"\x93\xAD", "?"},                          // 働 has no Hanja at all
        {"\x81\x58", "?"},                          // 々 with nothing to repeat
    };
    for (const auto& c : cases) EXPECT_EQ(e.Ask(c.sjis), c.cp949) << Hex(c.sjis);
}

TEST(StandInEngine, DemoModeLeavesAsciiAndMarkersByteForByte) {
    Engine e("mode demo\n");
    e.Init();
    const char* same[] = {
        "Hello, world  ! (a) [b] <c> 12:30",
        "_&040&__&041&_ _&163168&_ _&999&_ _&12&_",
        "",
    };
    for (const char* s : same) EXPECT_EQ(e.Ask(s), s);
    // Markers around and between Japanese words stay exactly as they were.
    EXPECT_EQ(
        e.Ask("_&040&_\x97\x45\x8E\xD2_&163168&_\x8E\x52_&041&_"),
        "_&040&_\xBF\xEB\xBB\xE7(\xC1\xD6: \xC1\xD6\xC0\xCE\xB0\xF8)_&163168&_\xDF\xA3_&041&_");
    // A trail byte in the ASCII range belongs to its character, not to the text around it.
    EXPECT_EQ(e.Ask("\x83\x5C_&058&_"), "\xBC\xD2_&058&_");
}

TEST(StandInEngine, DemoModeStillHonoursExplicitRules) {
    Engine e("map 41 42\nnull 43\n");
    e.Init();
    EXPECT_EQ(e.Ask("A"), "B");
    EXPECT_EQ(e.Ask("C"), std::nullopt);
    EXPECT_EQ(e.Ask("D"), "D");
}

// Runs fn under the engine guard; the exception code, or 0 when fn returned.
template <class Fn>
std::uint32_t FaultOf(Fn fn) {
    std::uint32_t code = 0;
    return mirelo::Guarded(fn, &code) ? 0 : code;
}

TEST(StandInEngine, ScriptedFaultsAreLoggedThenRaisedInTheirCall) {
    Engine e(
        "mode scripted\nlog calls.log\n"
        "fault translate 61 divide\nfault translate * illegal\nmap 62 62\nfault free 62 write\n"
        "fault translate 68 handled\nunterminated 75\nfault stop cxx\n");
    ASSERT_EQ(e.Init(), 1);
    char* b = nullptr;
    char* u = nullptr;
    char* h = nullptr;
    EXPECT_EQ(0xC0000094u, FaultOf([&] { e.translate(0, "a"); }));
    EXPECT_EQ(0xC000001Du, FaultOf([&] { e.translate(0, "other"); }));  // the rule for all
    EXPECT_EQ(0u, FaultOf([&] { b = e.translate(0, "b"); }));           // has a rule of its own
    EXPECT_EQ(0u, FaultOf([&] { h = e.translate(0, "h"); }));
    EXPECT_EQ(0u, FaultOf([&] { u = e.translate(0, "u"); }));
    ASSERT_TRUE(b && h && u);
    EXPECT_STREQ("h", h);
    // The answer ends the page: its last byte is readable, the next one is not.
    EXPECT_EQ(0u, FaultOf([&] { EXPECT_EQ('F', u[15]); }));
    EXPECT_EQ(0xC0000005u,
              FaultOf([&] { static_cast<void>(*static_cast<volatile char*>(u + 16)); }));
    EXPECT_EQ("0123456789ABCDEF", std::string(u, 16));
    EXPECT_EQ(0xC0000005u, FaultOf([&] { e.freeMem(b); }));
    EXPECT_EQ(1, e.freeMem(h));
    EXPECT_EQ(1, e.freeMem(u));
    EXPECT_EQ(0xE06D7363u, FaultOf([&] { e.stop(0); }));

    const std::vector<std::string> want = {
        "init key=TESTKEY12345 path=" + Hex(e.DataPath()),
        "translate arg=0 in=61 fault=divide",
        "translate arg=0 in=6F74686572 fault=illegal",
        "translate arg=0 in=62 out=" + Ptr(b),
        "translate arg=0 in=68 out=" + Ptr(h) + " fault=handled",
        "translate arg=0 in=75 out=" + Ptr(u),
        "free ptr=" + Ptr(b) + " fault=write",
        "free ptr=" + Ptr(h),
        "free ptr=" + Ptr(u),
        "stop arg=0 outstanding=0 fault=cxx",
    };
    EXPECT_EQ(e.Log(), want);
}

TEST(StandInEngine, FaultInInitialisationAndMalformedFaultLines) {
    Engine faulty("mode scripted\nlog calls.log\nfault init overflow\n");
    EXPECT_EQ(0xC00000FDu, FaultOf([&] { faulty.Init(); }));
    EXPECT_EQ(faulty.Log(), std::vector<std::string>{"init key=TESTKEY12345 path=" +
                                                     Hex(faulty.DataPath()) + " fault=overflow"});
    for (const char* line : {"fault translate 61 melt", "fault init", "fault init read 61",
                             "fault free * read", "fault start read"}) {
        Engine e(std::string("mode scripted\n") + line + "\n");
        EXPECT_EQ(0, e.Init()) << line;
    }
}

DWORD WINAPI AskForH(void* engine) {
    static_cast<Engine*>(engine)->translate(0, "h");
    return 0;
}

TEST(StandInEngine, HangingCallIsLoggedAndNeverReturns) {
    Engine e("mode scripted\nlog calls.log\nfault translate 68 hang\n");
    ASSERT_EQ(e.Init(), 1);
    HANDLE thread = CreateThread(nullptr, 0, AskForH, &e, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 500));
    EXPECT_EQ(e.Log().back(), "translate arg=0 in=68 fault=hang");
    EXPECT_EQ(e.Ask("x"), "x");  // it holds no lock while it hangs
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

constexpr wchar_t kExitChildRoot[] = L"STANDIN_EXIT_CHILD_ROOT";

// Run only as the child of the test below: an exit fault must end this very process.
TEST(StandInEngineChild, DISABLED_TranslationThatExitsEndsTheProcess) {
    wchar_t root[MAX_PATH];
    ASSERT_NE(0u, GetEnvironmentVariableW(kExitChildRoot, root, MAX_PATH));
    Module m(std::wstring(root) + L"\\J2KEngine.dll");
    auto init = m.proc<InitFn>("J2K_InitializeEx");
    auto translate = m.proc<TranslateFn>("J2K_TranslateMMNT");
    ASSERT_TRUE(init && translate);
    ASSERT_EQ(1, init(kKey, Narrow(std::wstring(root) + L"\\Dat").c_str()));
    EXPECT_STREQ("b", translate(0, "b"));
    // Not even an outer guard sees it: there is no exception, only the end of the process.
    std::uint32_t code = 0;
    mirelo::CallGuarded([](void* t) { reinterpret_cast<TranslateFn>(t)(0, "a"); },
                        reinterpret_cast<void*>(translate), &code);
    std::printf("still running after the exit fault, code %08X\n", code);
}

TEST(StandInEngine, ExitFaultEndsTheWholeProcessWithTheHeapCorruptionStatus) {
    EngineFolder folder("mode scripted\nlog calls.log\nfault translate 61 exit\n");
    wchar_t self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, self, MAX_PATH));
    ASSERT_TRUE(SetEnvironmentVariableW(kExitChildRoot, folder.Root().c_str()));
    const ProcessResult r = RunProcess(
        self,
        {L"--gtest_also_run_disabled_tests",
         L"--gtest_filter=StandInEngineChild.DISABLED_TranslationThatExitsEndsTheProcess"},
        "", 30000);
    SetEnvironmentVariableW(kExitChildRoot, nullptr);
    EXPECT_EQ(0xC0000374u, r.exitCode) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("still running")) << r.out;
    const auto log = folder.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("translate arg=0 in=61 fault=exit", log.back());
}

}  // namespace

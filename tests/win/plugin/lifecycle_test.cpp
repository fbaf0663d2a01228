// The plug-in's boundary as a host meets it: the export table, the calling
// convention, the imports, and the order of the four exports, in and out of contract.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "iat_hook.h"
#include "plugin_fixture.h"
#include "process_probe.h"
#include "ui_watcher.h"

using namespace mirelo::test;

// Calls fn with two or three 32-bit arguments and reports how far ESP moved across
// the call: 0 when the callee removed its arguments (stdcall), -4*n when it did not.
extern "C" int StackDeltaOfCall2(void* fn, uint32_t a, uint32_t b);
extern "C" int StackDeltaOfCall3(void* fn, uint32_t a, uint32_t b, uint32_t c);
asm(".globl _StackDeltaOfCall2\n"
    "_StackDeltaOfCall2:\n"
    "  pushl %ebp\n  movl %esp, %ebp\n  pushl %esi\n  movl %esp, %esi\n"
    "  pushl 16(%ebp)\n  pushl 12(%ebp)\n  call *8(%ebp)\n"
    "  movl %esp, %eax\n  subl %esi, %eax\n"
    "  movl %esi, %esp\n  popl %esi\n  popl %ebp\n  ret\n"
    ".globl _StackDeltaOfCall3\n"
    "_StackDeltaOfCall3:\n"
    "  pushl %ebp\n  movl %esp, %ebp\n  pushl %esi\n  movl %esp, %esi\n"
    "  pushl 20(%ebp)\n  pushl 16(%ebp)\n  pushl 12(%ebp)\n  call *8(%ebp)\n"
    "  movl %esp, %eax\n  subl %esi, %eax\n"
    "  movl %esi, %esp\n  popl %esi\n  popl %ebp\n  ret\n");

namespace {

const IMAGE_NT_HEADERS32* NtHeaders(HMODULE module) {
    auto base = reinterpret_cast<const BYTE*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
}

TEST(ExportTable, HoldsExactlyTheFiveNamesAtTheirOrdinals) {
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());
    auto base = reinterpret_cast<const BYTE*>(plugin.module());
    const auto& dir =
        NtHeaders(plugin.module())->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    EXPECT_STREQ("Mirelo.dll", reinterpret_cast<const char*>(base + exports->Name));
    EXPECT_EQ(1u, exports->Base);
    EXPECT_EQ(5u, exports->NumberOfFunctions);
    ASSERT_EQ(5u, exports->NumberOfNames);

    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    auto ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    std::set<std::pair<DWORD, std::string>> table;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        table.emplace(ordinals[i] + exports->Base, reinterpret_cast<const char*>(base + names[i]));
    }
    const std::set<std::pair<DWORD, std::string>> expected = {{1, "DllMain"},
                                                              {2, "OnPluginInit"},
                                                              {3, "OnPluginOption"},
                                                              {4, "OnPluginClose"},
                                                              {5, "Translate"}};
    EXPECT_EQ(expected, table);
    EXPECT_EQ(reinterpret_cast<void*>(plugin.translate),
              reinterpret_cast<void*>(::GetProcAddress(plugin.module(), MAKEINTRESOURCEA(5))));
}

TEST(ExportTable, ImportsOnlySystemLibraries) {
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());
    auto base = reinterpret_cast<const BYTE*>(plugin.module());
    const auto& dir =
        NtHeaders(plugin.module())->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const std::set<std::string> system = {"kernel32.dll", "user32.dll",  "advapi32.dll",
                                          "msvcrt.dll",   "shell32.dll", "ole32.dll",
                                          "comctl32.dll"};
    int count = 0;
    for (auto desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name; ++desc, ++count) {
        std::string name = reinterpret_cast<const char*>(base + desc->Name);
        for (char& c : name) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(system.count(name)) << "imports " << name;
    }
    EXPECT_GT(count, 0);
}

TEST(CallingConvention, InitAndTranslateRemoveTheirOwnArguments) {
    EngineFolder engine(Scripted("map 616263 414243\n"));
    InstallKey path(engine.Root());
    HostWindow host;
    char options[16] = "";
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());

    EXPECT_EQ(0, StackDeltaOfCall2(reinterpret_cast<void*>(plugin.init),
                                   reinterpret_cast<uintptr_t>(host.get()),
                                   reinterpret_cast<uintptr_t>(options)));
    char dest[16] = {};
    EXPECT_EQ(0, StackDeltaOfCall3(reinterpret_cast<void*>(plugin.translate),
                                   reinterpret_cast<uintptr_t>("abc"),
                                   reinterpret_cast<uintptr_t>(dest), sizeof dest));
    EXPECT_STREQ("ABC", dest);
    EXPECT_EQ(1, plugin.close());
}

TEST(Lifecycle, TranslatesBetweenInitAndClose) {
    RunningPlugin run(Scripted("map 82b182f1 bec8b3e7\n"));  // こん -> 안녕
    ASSERT_EQ(1, run.initResult);
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("\x82\xb1\x82\xf1", result));
    EXPECT_EQ("\xbe\xc8\xb3\xe7", result);
    EXPECT_EQ(1, run.Close());

    EXPECT_EQ(1u, run.engine.LogLines("init ").size());
    const auto stop = run.engine.LogLines("stop ");
    ASSERT_EQ(1u, stop.size());
    EXPECT_EQ("stop arg=0 outstanding=0", stop[0]);
    EXPECT_TRUE(run.engine.LogLines("terminate").empty());
    EXPECT_TRUE(run.engine.LogLines("violation").empty());
}

TEST(Lifecycle, EveryEngineResultIsFreedExactlyOnce) {
    RunningPlugin run(Scripted("map 61 41\nmap 62 42\n"));
    ASSERT_EQ(1, run.initResult);
    std::string result;
    for (const char* line : {"a", "b", "c", "a"})
        EXPECT_EQ(1, run.plugin.TranslateText(line, result));
    run.Close();
    const auto translated = run.engine.LogLines("translate ");
    const auto freed = run.engine.LogLines("free ");
    EXPECT_EQ(3u, translated.size());  // the second "a" comes from the cache
    ASSERT_EQ(translated.size(), freed.size());
    for (size_t i = 0; i < freed.size(); ++i) {
        const std::string ptr = translated[i].substr(translated[i].find("out=") + 4);
        EXPECT_EQ("free ptr=" + ptr, freed[i]);
    }
    EXPECT_TRUE(run.engine.LogLines("violation").empty());
}

TEST(Lifecycle, SecondCycleStartsAFreshWorkerAndEngine) {
    EngineFolder engine(Scripted());
    InstallKey path(engine.Root());
    HostWindow host;
    char options[16] = "";
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());
    std::string result;
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_EQ(1, plugin.init(host.get(), options));
        EXPECT_EQ(1, plugin.TranslateText("same line", result));
        EXPECT_EQ("same line", result);
        EXPECT_EQ(1, plugin.close());
    }
    EXPECT_EQ(2u, engine.LogLines("init ").size());
    EXPECT_EQ(2u, engine.LogLines("stop arg=0").size());
    EXPECT_EQ(2u, engine.LogLines("translate ").size());  // each worker starts with an empty cache
}

TEST(OutOfContract, CallsBeforeInitAndAfterCloseDoNothingHarmful) {
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());
    char dest[8] = "canary";
    EXPECT_EQ(0, plugin.translate("abc", dest, sizeof dest));
    EXPECT_STREQ("canary", dest);
    EXPECT_EQ(1, plugin.close());  // close without init
    EXPECT_EQ(1, plugin.option());

    {
        RunningPlugin run(Scripted());
        ASSERT_EQ(1, run.initResult);
        EXPECT_EQ(1, run.Close());
        EXPECT_EQ(0, run.plugin.translate("abc", dest, sizeof dest));
        EXPECT_STREQ("canary", dest);
        EXPECT_EQ(1, run.plugin.close());  // a second close
        EXPECT_EQ(1, run.plugin.option());
    }
}

TEST(OutOfContract, SecondInitWithoutCloseReplacesTheFirstWorker) {
    RunningPlugin run(Scripted());
    ASSERT_EQ(1, run.initResult);
    ASSERT_EQ(1, run.plugin.init(run.host.get(), run.optionBuffer));
    std::string result;
    EXPECT_EQ(1, run.plugin.TranslateText("again", result));
    EXPECT_EQ("again", result);
    run.Close();
    EXPECT_EQ(2u, run.engine.LogLines("stop arg=0").size());
}

HANDLE WINAPI NoEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) {
    return nullptr;
}
uintptr_t __cdecl NoThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned,
                           unsigned*) {
    return 0;
}

struct StartFailure {
    const char* dll;
    const char* function;
    const void* replacement;
};

TEST(StartUp, KernelObjectsThatCannotBeMadeFailInitWithTheThreadMessage) {
    const StartFailure failures[] = {
        {"kernel32.dll", "CreateEventW", reinterpret_cast<const void*>(&NoEvent)},
        {"msvcrt.dll", "_beginthreadex", reinterpret_cast<const void*>(&NoThread)}};
    for (const StartFailure& f : failures) {
        SCOPED_TRACE(f.function);
        UiWatcher watcher([](const SeenWindow& w) { PressButton(w.hwnd, IDOK); });
        EngineFolder engine(Scripted());
        InstallKey path(engine.Root());
        HostWindow host;
        char options[16] = "";
        Plugin plugin;
        ASSERT_TRUE(plugin.Loaded());
        {
            IatHook hook(plugin.module(), f.dll, f.function, f.replacement);
            ASSERT_TRUE(hook.Installed());
            EXPECT_EQ(0, plugin.init(host.get(), options));
        }
        const auto seen = watcher.Seen();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(L"Mirelo Initialize Error", seen[0].caption);
        EXPECT_EQ(L"Mirelo 쓰레드를 시작할 수 없습니다.", seen[0].text);
        char dest[8] = "canary";
        EXPECT_EQ(0, plugin.translate("abc", dest, sizeof dest));  // no worker to answer
        EXPECT_STREQ("canary", dest);
        EXPECT_EQ(1, plugin.close());
        EXPECT_TRUE(engine.Log().empty());  // the engine was never reached
    }
}

TEST(VersionResource, NamesTheModule) {
    const std::wstring file = BinDir() + L"\\Mirelo.dll";
    DWORD ignored = 0;
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(file.c_str(), &ignored));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(
        ::GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    wchar_t* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\041204B0\\OriginalFilename",
                                 reinterpret_cast<void**>(&value), &length));
    EXPECT_STREQ(L"Mirelo.dll", value);
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);
}

TEST(OptionDialog, NotShownWithoutALiveHostWindow) {
    UiWatcher watcher([](const SeenWindow& w) { PressButton(w.hwnd, IDCANCEL); });
    {
        Plugin plugin;
        ASSERT_TRUE(plugin.Loaded());
        EXPECT_EQ(1, plugin.option());  // before OnPluginInit
    }
    {
        RunningPlugin run(Scripted());
        ASSERT_EQ(1, run.initResult);
        run.Close();
        EXPECT_EQ(1, run.plugin.option());  // the worker has ended
    }
    {
        RunningPlugin run(Scripted());
        ASSERT_EQ(1, run.initResult);
        run.host.Destroy();
        EXPECT_EQ(1, run.plugin.option());  // the host window is gone
    }
    ::Sleep(300);
    EXPECT_TRUE(watcher.Seen().empty());
}

// Hosts that reload their plug-ins pay whatever a load leaves behind, every time.
TEST(Reload, HundredCyclesLeaveNoHandleAndNoMemoryBehind) {
    EngineFolder engine(Scripted());
    InstallKey path(engine.Root());
    HostWindow host;
    // The stand-in engine stays loaded, so only what the plug-in leaves is counted.
    Module pinnedEngine(EngineFolder::LibraryPathFor(engine.Root()));
    ASSERT_NE(nullptr, pinnedEngine.get());

    const struct {
        const char* name;
        bool started;
    } cases[] = {{"load, unload", false}, {"load, init, translate, close, unload", true}};
    for (const auto& c : cases) {
        auto cycle = [&] {
            Plugin plugin;
            ASSERT_TRUE(plugin.Loaded());
            if (!c.started) return;
            char options[16] = "";
            ASSERT_EQ(1, plugin.init(host.get(), options));
            std::string result;
            for (const char* line : {"one", "two", "one"}) {
                EXPECT_EQ(1, plugin.TranslateText(line, result));
                EXPECT_EQ(line, result);
            }
            EXPECT_EQ(1, plugin.close());
        };
        // Heaps and tables that grow once for the first loads are not a leak.
        for (int n = 0; n < 3; ++n) cycle();
        const size_t handles = CountHandles();
        const MemoryUse memory = MeasureMemory();
        for (int n = 0; n < 100; ++n) cycle();
        const MemoryUse after = MeasureMemory();
        EXPECT_EQ(handles, CountHandles()) << c.name;
        EXPECT_EQ(memory.heapBusy, after.heapBusy) << c.name;
        EXPECT_EQ(memory.privateCommitted, after.privateCommitted) << c.name;
    }
}

}  // namespace

// The engine guard's handler lies in Mirelo.dll and is registered at run time. The system
// dispatches to a handler inside an image only when the image has no SafeSEH table, or lists
// the handler in it, and never when the image is marked NO_SEH. Mirelo.dll has neither; this
// keeps it so, and checks the reader on made-up images that do have them.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_fixture.h"

using namespace mirelo::test;

namespace {

// Empty when a frame-based handler inside the mapped image `base` (of `size` bytes) is
// accepted by the dispatcher without being listed anywhere; else what stands in the way.
std::string HandlerObstacle(const BYTE* base, size_t size) {
    auto fits = [size](size_t offset, size_t length) {
        return offset <= size && length <= size - offset;
    };
    if (!fits(0, sizeof(IMAGE_DOS_HEADER))) return "no DOS header";
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const size_t nt = static_cast<size_t>(dos->e_lfanew);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || !fits(nt, sizeof(IMAGE_NT_HEADERS32)))
        return "no PE headers";
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + nt);
    if (headers->Signature != IMAGE_NT_SIGNATURE ||
        headers->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return "not a PE32 image";
    if (headers->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_NO_SEH)
        return "marked NO_SEH";
    if (headers->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG) return "";
    const IMAGE_DATA_DIRECTORY& entry =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    if (entry.VirtualAddress == 0) return "";
    if (!fits(entry.VirtualAddress, sizeof(DWORD))) return "load configuration out of the image";
    const BYTE* config = base + entry.VirtualAddress;
    DWORD declared;
    std::memcpy(&declared, config, sizeof declared);
    constexpr size_t kCountEnd = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SEHandlerCount) + 4;
    // An older, shorter directory ends before the two fields: it holds no table.
    if (declared < kCountEnd) return "";
    if (!fits(entry.VirtualAddress, kCountEnd)) return "load configuration out of the image";
    DWORD table, count;
    std::memcpy(&table, config + offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SEHandlerTable), 4);
    std::memcpy(&count, config + offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SEHandlerCount), 4);
    if (table != 0 || count != 0) return "SafeSEH table of " + std::to_string(count) + " handlers";
    return "";
}

TEST(Image, MireloDllHasNoSafeSehTableAndNoNoSehMark) {
    Plugin plugin;
    ASSERT_TRUE(plugin.Loaded());
    const auto* base = reinterpret_cast<const BYTE*>(plugin.module());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    EXPECT_EQ("", HandlerObstacle(base, headers->OptionalHeader.SizeOfImage));
}

// A made-up mapped image: headers, and a load configuration directory when asked for.
struct MadeImage {
    static constexpr DWORD kConfigRva = 0x400;
    std::vector<BYTE> bytes = std::vector<BYTE>(0x1000, 0);

    MadeImage() {
        auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(bytes.data());
        dos->e_magic = IMAGE_DOS_SIGNATURE;
        dos->e_lfanew = 0x80;
        auto* h = Headers();
        h->Signature = IMAGE_NT_SIGNATURE;
        h->FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
        h->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
        h->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    }
    IMAGE_NT_HEADERS32* Headers() {
        return reinterpret_cast<IMAGE_NT_HEADERS32*>(bytes.data() + 0x80);
    }
    // A directory of `declared` bytes with the two fields set.
    void AddConfig(DWORD declared, DWORD table, DWORD count) {
        Headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG] = {kConfigRva,
                                                                                      declared};
        auto* c = reinterpret_cast<IMAGE_LOAD_CONFIG_DIRECTORY32*>(bytes.data() + kConfigRva);
        c->Size = declared;
        c->SEHandlerTable = table;
        c->SEHandlerCount = count;
    }
    std::string Obstacle() const { return HandlerObstacle(bytes.data(), bytes.size()); }
};

TEST(Image, ReaderFindsATableOrTheMarkInMadeUpImages) {
    EXPECT_EQ("", MadeImage().Obstacle());

    MadeImage noSeh;
    noSeh.Headers()->OptionalHeader.DllCharacteristics |= IMAGE_DLLCHARACTERISTICS_NO_SEH;
    EXPECT_EQ("marked NO_SEH", noSeh.Obstacle());

    MadeImage withTable;
    withTable.AddConfig(sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32), 0x10800, 3);
    EXPECT_EQ("SafeSEH table of 3 handlers", withTable.Obstacle());

    MadeImage withoutFields;  // a directory too short to hold a table
    withoutFields.AddConfig(0x40, 0x10800, 3);
    EXPECT_EQ("", withoutFields.Obstacle());

    MadeImage cleanConfig;
    cleanConfig.AddConfig(sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32), 0, 0);
    EXPECT_EQ("", cleanConfig.Obstacle());

    MadeImage outside;
    outside.AddConfig(0x48, 1, 1);
    outside.Headers()
        ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG]
        .VirtualAddress = 0xFFF;
    EXPECT_EQ("load configuration out of the image", outside.Obstacle());
}

}  // namespace

// What a Windows library file is, read from its bytes alone: nothing is loaded or run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace programs {

enum class PeKind { kNotPe, k32Bit, k64Bit };

// Why a file is no library, or why its export table is unread.
enum class PeProblem {
    kNone,
    kNoMz,
    kNoPe,
    kNoOptionalHeader,
    kUnknownOptionalHeader,
    kSectionsCut,
    kExportsOutside,
    kExportNamesDamaged,
    kExportNameOutside,
};

struct PeImage {
    PeKind kind = PeKind::kNotPe;
    uint16_t machine = 0;  // IMAGE_FILE_HEADER.Machine: 0x14C x86, 0x8664 x64, ...
    bool isDll = false;
    std::vector<std::string> names;  // exported names, in table order
    std::string problem;             // why kind is kNotPe, or why the export table is unread
    PeProblem problemKind = PeProblem::kNone;  // the same, for a program to word
};

// Every offset and count is checked against the data: a damaged file gives kNotPe or an
// empty export list with `problem` set, never a read outside `file`.
PeImage ReadPeImage(std::string_view file);

}  // namespace programs

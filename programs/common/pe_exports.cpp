#include "pe_exports.h"

namespace programs {
namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kFileDll = 0x2000;
constexpr uint32_t kMaxExportNames = 1u << 16;
constexpr std::size_t kMaxNameBytes = 4096;

class Reader {
  public:
    explicit Reader(std::string_view bytes) : m_bytes(bytes) {}
    bool Has(uint64_t offset, uint64_t size) const {
        return offset <= m_bytes.size() && size <= m_bytes.size() - offset;
    }
    uint16_t U16(uint64_t at) const { return static_cast<uint16_t>(Byte(at) | Byte(at + 1) << 8); }
    uint32_t U32(uint64_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
    std::string_view Bytes() const { return m_bytes; }

  private:
    uint32_t Byte(uint64_t at) const { return static_cast<unsigned char>(m_bytes[at]); }
    std::string_view m_bytes;
};

void Fail(PeImage& image, PeProblem kind, const char* why) {
    image.problemKind = kind;
    image.problem = why;
}

struct Section {
    uint32_t address, span, rawOffset, rawSize;
};

// File offset of an address in the loaded image, or false when no section's file data holds it.
bool FileOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t& offset) {
    for (const Section& s : sections) {
        if (rva < s.address || rva - s.address >= s.span) continue;
        if (rva - s.address >= s.rawSize) return false;
        offset = static_cast<uint64_t>(s.rawOffset) + (rva - s.address);
        return true;
    }
    return false;
}

void ReadExports(const Reader& r, const std::vector<Section>& sections, uint32_t dirRva,
                 PeImage& image) {
    uint64_t dir = 0;
    if (dirRva == 0) return;  // exports nothing
    if (!FileOffset(sections, dirRva, dir) || !r.Has(dir, 40)) {
        Fail(image, PeProblem::kExportsOutside, "the export table lies outside the file");
        return;
    }
    const uint32_t count = r.U32(dir + 24);
    uint64_t names = 0;
    if (count > kMaxExportNames || (count > 0 && (!FileOffset(sections, r.U32(dir + 32), names) ||
                                                  !r.Has(names, 4ull * count)))) {
        Fail(image, PeProblem::kExportNamesDamaged, "the export name table is damaged");
        return;
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t at = 0;
        if (!FileOffset(sections, r.U32(names + 4ull * i), at) || !r.Has(at, 1)) {
            Fail(image, PeProblem::kExportNameOutside, "an export name lies outside the file");
            return;
        }
        std::string_view rest = r.Bytes().substr(at, kMaxNameBytes);
        image.names.emplace_back(rest.substr(0, rest.find('\0')));
    }
}

}  // namespace

PeImage ReadPeImage(std::string_view file) {
    PeImage image;
    const Reader r(file);
    if (!r.Has(0, 64) || file[0] != 'M' || file[1] != 'Z') {
        Fail(image, PeProblem::kNoMz, "not a Windows program or library (no MZ header)");
        return image;
    }
    const uint64_t pe = r.U32(0x3C);
    if (!r.Has(pe, 24) || file.substr(pe, 4) != std::string_view("PE\0\0", 4)) {
        Fail(image, PeProblem::kNoPe, "not a Windows program or library (no PE header)");
        return image;
    }
    image.machine = r.U16(pe + 4);
    const uint16_t sectionCount = r.U16(pe + 6);
    const uint16_t optionalSize = r.U16(pe + 20);
    image.isDll = (r.U16(pe + 22) & kFileDll) != 0;
    const uint64_t opt = pe + 24;
    if (!r.Has(opt, 2)) {
        Fail(image, PeProblem::kNoOptionalHeader, "the optional header is missing");
        return image;
    }
    const uint16_t magic = r.U16(opt);
    uint64_t dirCountAt = 0;
    if (magic == kPe32Magic) {
        image.kind = PeKind::k32Bit;
        dirCountAt = opt + 92;
    } else if (magic == kPe32PlusMagic) {
        image.kind = PeKind::k64Bit;
        dirCountAt = opt + 108;
    } else {
        Fail(image, PeProblem::kUnknownOptionalHeader, "unknown optional header kind");
        return image;
    }

    std::vector<Section> sections;
    const uint64_t table = opt + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const uint64_t s = table + 40ull * i;
        if (!r.Has(s, 40)) {
            Fail(image, PeProblem::kSectionsCut, "the section table is cut short");
            return image;
        }
        sections.push_back({r.U32(s + 12), r.U32(s + 8) ? r.U32(s + 8) : r.U32(s + 16),
                            r.U32(s + 20), r.U32(s + 16)});
    }
    // Data directory 0 is the export table; it lies just after the count, inside the header.
    if (!r.Has(dirCountAt, 12) || dirCountAt + 12 > table || r.U32(dirCountAt) == 0) return image;
    ReadExports(r, sections, r.U32(dirCountAt + 4), image);
    return image;
}

}  // namespace programs

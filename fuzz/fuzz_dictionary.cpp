// Parse and apply together: the input is a dictionary file, a NUL, then a line. Every pass
// runs on the line with room to spare and again at a capacity picked by the control byte.
#include "../tests/dictionary/iconv_encoders.h"
#include "fuzz_support.h"

using namespace mirelo;
using namespace mirelo::dict;
using namespace mirelo::fuzz;

namespace {

using Pass = size_t (Dictionary::*)(const char*, char*, size_t, std::vector<Firing>*) const;

std::string Check(const Dictionary& d, Pass pass, const std::string& text, uint8_t control,
                  Kind kind) {
    const auto src = Exact(text);
    std::vector<Firing> fired;
    const size_t length = (d.*pass)(src.get(), nullptr, 0, &fired);
    std::unique_ptr<char[]> full(new char[length + 1]);
    FUZZ_CHECK((d.*pass)(src.get(), full.get(), length + 1, nullptr) == length);
    FUZZ_CHECK(full[length] == '\0');
    for (const Firing& f : fired) {
        size_t entries = 0;
        for (Kind k : kKinds) entries += d.Count(k);
        FUZZ_CHECK(f.entry < entries && d.Info(f.entry).kind == kind);
    }

    const size_t cap = 1 + control % (length + 2);
    std::unique_ptr<char[]> cut(new char[cap]);
    FUZZ_CHECK((d.*pass)(src.get(), cut.get(), cap, nullptr) == length);
    const size_t kept = length < cap ? length : cap - 1;
    FUZZ_CHECK(std::memcmp(cut.get(), full.get(), kept) == 0);
    FUZZ_CHECK(cut[kept] == '\0');
    return std::string(full.get(), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t control = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t split = rest.find('\0');
    if (split == std::string_view::npos) return 0;
    const SourceFile file{"fuzz.txt", rest.substr(0, split)};
    std::string line(rest.substr(split + 1));
    line.resize(strnlen(line.c_str(), line.size()));

    std::vector<Problem> problems;
    const auto d = Dictionary::Compile(std::span(&file, 1), test::Encoders(), &problems);
    FUZZ_CHECK(d != nullptr);
    for (const Problem& p : problems) {
        FUZZ_CHECK(!p.reason.empty());
        // A file read as another encoding than UTF-8 is one problem without a line, and
        // nothing of it is used.
        const bool wholeFile = p.kind == ProblemKind::kFileUtf16 ||
                               p.kind == ProblemKind::kFileCp949 ||
                               p.kind == ProblemKind::kFileShiftJis;
        FUZZ_CHECK(wholeFile ? p.line == 0 && problems.size() == 1 && d->Empty() : p.line >= 1);
    }

    // The order the plug-in runs them in, the engine answering with its input.
    const std::string patterned = Check(*d, &Dictionary::ApplyPreRe, line, control, Kind::PreRe);
    const std::string pre = Check(*d, &Dictionary::ApplyPre, patterned, control, Kind::Pre);
    const std::string marked = Check(*d, &Dictionary::ProtectNames, pre, control, Kind::Name);
    const std::string restored = Check(*d, &Dictionary::RestoreNames, marked, control, Kind::Name);
    const std::string post = Check(*d, &Dictionary::ApplyPost, restored, control, Kind::Post);
    Check(*d, &Dictionary::ApplyPostRe, post, control, Kind::PostRe);

    if (d->Count(Kind::PreRe) == 0) FUZZ_CHECK(patterned == line);
    if (d->Count(Kind::Pre) == 0) FUZZ_CHECK(pre == patterned);
    // Markers only come from names, so without any a text with no name marker comes back.
    if (d->Count(Kind::Name) == 0) FUZZ_CHECK(restored == marked);
    if (line.find('_') == std::string::npos && d->Count(Kind::Pre) == 0)
        FUZZ_CHECK(Check(*d, &Dictionary::RestoreNames, line, control, Kind::Name) == line);

    // A line entry answers with the TO of an entry of its own kind, and the same whatever
    // line ending the host adds.
    std::vector<Firing> fired;
    std::string_view to;
    if (d->FindLine(line, to, &fired)) {
        FUZZ_CHECK(fired.size() == 1 && d->Info(fired[0].entry).kind == Kind::Line);
        std::string_view again;
        FUZZ_CHECK(d->FindLine(line + "\r\n", again) && again == to);
    } else {
        FUZZ_CHECK(fired.empty());
    }
    return 0;
}

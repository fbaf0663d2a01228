#include "dictionary_tools.h"

#include <cstdio>
#include <vector>

#include "code_pages.h"
#include "host_args.h"
#include "text_codec.h"

namespace host {
namespace {

using mirelo::dict::Dictionary;
using mirelo::dict::EntryInfo;
using mirelo::dict::Firing;
using mirelo::dict::Kind;
using mirelo::dict::Problem;

void PrintProblem(std::FILE* to, const Problem& p) {
    if (p.line == 0)
        std::fprintf(to, "%s: %s\n", p.file.c_str(), p.reason.c_str());
    else
        std::fprintf(to, "%s:%d: %s\n", p.file.c_str(), p.line, p.reason.c_str());
}

std::string Describe(const EntryInfo& e) {
    return std::string(mirelo::dict::KindName(e.kind)) + " " + e.file + ":" +
           std::to_string(e.line) + ": " + e.from + " \xE2\x86\x92 " + e.to;
}

// One pass, its result as a string of its own.
std::string RunPass(const Dictionary& d, mirelo::dict::Pass pass, const std::string& text,
                    std::vector<Firing>& fired) {
    std::string buffer;
    return mirelo::dict::RunPass(d, pass, text.c_str(), buffer, &fired);
}

}  // namespace

int CheckDictionary(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::printf("%s: no such folder\n", mirelo::WideToUtf8(folder).c_str());
        return kExitDictionary;
    }
    const auto loaded = mirelo::dict::LoadFolder(folder);
    for (const Problem& p : loaded.problems) PrintProblem(stdout, p);
    const Dictionary* d = loaded.dictionary.get();
    std::printf("%s: %zu file(s); entries in use: name %zu, pre %zu, post %zu\n",
                mirelo::WideToUtf8(folder).c_str(), loaded.files, d ? d->Count(Kind::Name) : 0,
                d ? d->Count(Kind::Pre) : 0, d ? d->Count(Kind::Post) : 0);
    if (loaded.files > 0 && d == nullptr) {
        std::printf("out of memory while compiling\n");
        return kExitDictionary;
    }
    return loaded.problems.empty() ? kExitOk : kExitDictionary;
}

DictionaryTrace::DictionaryTrace(const std::wstring& folder) {
    auto loaded = mirelo::dict::LoadFolder(folder);
    for (const Problem& p : loaded.problems) {
        std::fputs("mirelo-host: trace: ", stderr);
        PrintProblem(stderr, p);
    }
    m_dictionary = std::move(loaded.dictionary);
    const Dictionary* d = m_dictionary.get();
    std::fprintf(stderr, "mirelo-host: trace: %s: name %zu, pre %zu, post %zu\n",
                 mirelo::WideToUtf8(folder).c_str(), d ? d->Count(Kind::Name) : 0,
                 d ? d->Count(Kind::Pre) : 0, d ? d->Count(Kind::Post) : 0);
}

void DictionaryTrace::Line(unsigned long number, const std::string& sjisSource,
                           const std::string& cp949Result) const {
    if (!m_dictionary || m_dictionary->Empty()) return;
    const Dictionary& d = *m_dictionary;
    std::vector<Firing> fired;
    const std::string pre = RunPass(d, &Dictionary::ApplyPre, sjisSource, fired);
    RunPass(d, &Dictionary::ProtectNames, pre, fired);

    const std::string result = Cp949ToUtf8(cp949Result);
    for (const Firing& f : fired) {
        const EntryInfo& e = d.Info(f.entry);
        const bool lost = e.kind == Kind::Name && result.find(e.to) == std::string::npos;
        std::fprintf(stderr, "mirelo-host: trace: line %lu: %s%s\n", number, Describe(e).c_str(),
                     lost ? " (not in the result: the engine dropped the name)" : "");
    }
    // What the post pass saw never leaves the plug-in: name the entries whose TO the result
    // holds. Deletions cannot be seen this way.
    const size_t total = d.Count(Kind::Pre) + d.Count(Kind::Name) + d.Count(Kind::Post);
    for (uint32_t id = 0; id < total; ++id) {
        const EntryInfo& e = d.Info(id);
        if (e.kind != Kind::Post || e.to.empty() || result.find(e.to) == std::string::npos)
            continue;
        std::fprintf(stderr, "mirelo-host: trace: line %lu: %s (maybe: its TO is in the result)\n",
                     number, Describe(e).c_str());
    }
}

}  // namespace host

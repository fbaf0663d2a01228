#include "dictionary_tools.h"

#include <vector>

#include "code_pages.h"
#include "dictionary_words.h"
#include "host_args.h"
#include "messages.h"
#include "text_codec.h"
#include "text_output.h"

namespace host {
namespace {

using mirelo::dict::Dictionary;
using mirelo::dict::EntryInfo;
using mirelo::dict::Firing;
using mirelo::dict::Kind;
using mirelo::dict::Problem;

constexpr char kPrefix[] = "mirelo-host: ";

std::string Counts(const Dictionary* d, Msg id, std::string_view first) {
    return Format(id, {first, std::to_string(d ? d->Count(Kind::Name) : 0),
                       std::to_string(d ? d->Count(Kind::Pre) : 0),
                       std::to_string(d ? d->Count(Kind::Post) : 0)});
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
        Out().Write(Format(Msg::kDictNoFolder, {mirelo::WideToUtf8(folder)}) + "\n");
        return kExitDictionary;
    }
    const auto loaded = mirelo::dict::LoadFolder(folder);
    for (const Problem& p : loaded.problems) Out().Write(DescribeProblem(p) + "\n");
    const Dictionary* d = loaded.dictionary.get();
    Out().Write(Format(Msg::kDictSummary, {mirelo::WideToUtf8(folder), std::to_string(loaded.files),
                                           std::to_string(d ? d->Count(Kind::Name) : 0),
                                           std::to_string(d ? d->Count(Kind::Pre) : 0),
                                           std::to_string(d ? d->Count(Kind::Post) : 0)}) +
                "\n");
    if (loaded.files > 0 && d == nullptr) {
        Out().Write(std::string(Text(Msg::kDictOutOfMemory)) + "\n");
        return kExitDictionary;
    }
    return loaded.problems.empty() ? kExitOk : kExitDictionary;
}

DictionaryTrace::DictionaryTrace(const std::wstring& folder) {
    auto loaded = mirelo::dict::LoadFolder(folder);
    for (const Problem& p : loaded.problems)
        Err().Write(kPrefix + Format(Msg::kTraceProblem, {DescribeProblem(p)}) + "\n");
    m_dictionary = std::move(loaded.dictionary);
    Err().Write(kPrefix +
                Counts(m_dictionary.get(), Msg::kTraceCounts, mirelo::WideToUtf8(folder)) + "\n");
}

void DictionaryTrace::Line(unsigned long number, const std::string& sjisSource,
                           const std::string& cp949Result) const {
    if (!m_dictionary || m_dictionary->Empty()) return;
    const Dictionary& d = *m_dictionary;
    std::vector<Firing> fired;
    const std::string pre = RunPass(d, &Dictionary::ApplyPre, sjisSource, fired);
    RunPass(d, &Dictionary::ProtectNames, pre, fired);

    const std::string line = std::to_string(number);
    const std::string result = Cp949ToUtf8(cp949Result);
    for (const Firing& f : fired) {
        const EntryInfo& e = d.Info(f.entry);
        const bool lost = e.kind == Kind::Name && result.find(e.to) == std::string::npos;
        const std::string entry = lost ? Format(Msg::kTraceNameLost, {Describe(e)}) : Describe(e);
        Err().Write(kPrefix + Format(Msg::kTraceLine, {line, entry}) + "\n");
    }
    // What the post pass saw never leaves the plug-in: name the entries whose TO the result
    // holds. Deletions cannot be seen this way.
    const size_t total = d.Count(Kind::Pre) + d.Count(Kind::Name) + d.Count(Kind::Post);
    for (uint32_t id = 0; id < total; ++id) {
        const EntryInfo& e = d.Info(id);
        if (e.kind != Kind::Post || e.to.empty() || result.find(e.to) == std::string::npos)
            continue;
        Err().Write(kPrefix +
                    Format(Msg::kTraceLine, {line, Format(Msg::kTraceMaybe, {Describe(e)})}) +
                    "\n");
    }
}

}  // namespace host

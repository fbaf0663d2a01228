#include "dictionary_tools.h"

#include <vector>

#include "code_pages.h"
#include "dictionary_words.h"
#include "host_args.h"
#include "messages.h"
#include "text_codec.h"
#include "text_output.h"

namespace host {
using namespace programs;
namespace {

using mirelo::dict::Dictionary;
using mirelo::dict::EntryInfo;
using mirelo::dict::Firing;
using mirelo::dict::Kind;
using mirelo::dict::Problem;

constexpr char kPrefix[] = "mirelo-host: ";

// The entries in use of each kind, as the messages show them.
struct EntryCounts {
    explicit EntryCounts(const Dictionary* d)
        : name(std::to_string(d ? d->Count(Kind::Name) : 0)),
          pre(std::to_string(d ? d->Count(Kind::Pre) : 0)),
          post(std::to_string(d ? d->Count(Kind::Post) : 0)),
          line(std::to_string(d ? d->Count(Kind::Line) : 0)),
          preRe(std::to_string(d ? d->Count(Kind::PreRe) : 0)),
          postRe(std::to_string(d ? d->Count(Kind::PostRe) : 0)) {}
    // Line and pattern entries are told only when there are any: a folder without them
    // reads as before.
    bool lines() const { return line != "0"; }
    std::string patterns() const {
        return preRe == "0" && postRe == "0" ? std::string()
                                             : Format(Msg::kDictPatternCounts, {preRe, postRe});
    }
    std::string name, pre, post, line, preRe, postRe;
};

// The folder as summaries name it: with a game, its subfolder read on top.
std::string FolderName(const std::wstring& folder, const std::string& game) {
    const std::string name = mirelo::WideToUtf8(folder);
    return game.empty() ? name : name + " + " + game + "\\";
}

std::string Describe(const EntryInfo& e) {
    return std::string(mirelo::dict::KindName(e.kind)) + " " + e.file + ":" +
           std::to_string(e.line) + ": " + e.from + " \xE2\x86\x92 " + e.to;
}

// A pattern entry's firing: what it replaced, or why it was left out for the line.
std::string DescribePattern(const EntryInfo& e, const Firing& f) {
    switch (f.what) {
        case mirelo::dict::FiringKind::kOverBudget:
            return Format(Msg::kTraceOverBudget, {Describe(e)});
        case mirelo::dict::FiringKind::kTooLong:
            return Format(Msg::kTraceTooLong, {Describe(e)});
        case mirelo::dict::FiringKind::kLineOverBudget:
            return Format(Msg::kTraceLineOverBudget, {Describe(e)});
        case mirelo::dict::FiringKind::kApplied:
            break;
    }
    std::string replaced;
    for (size_t k = 0; k + 1 < f.replaced.size(); k += 2) {
        if (k > 0) replaced += ", ";
        replaced += "\"" + f.replaced[k] + "\" \xE2\x86\x92 \"" + f.replaced[k + 1] + "\"";
    }
    return Format(Msg::kTraceReplaced, {Describe(e), replaced});
}

// One pass, its result as a string of its own.
std::string RunPass(const Dictionary& d, mirelo::dict::Pass pass, const std::string& text,
                    std::vector<Firing>& fired) {
    std::string buffer;
    return mirelo::dict::RunPass(d, pass, text.c_str(), buffer, &fired);
}

}  // namespace

int CheckDictionary(const std::wstring& folder, const std::string& game) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Out().Write(Format(Msg::kDictNoFolder, {mirelo::WideToUtf8(folder)}) + "\n");
        return kExitDictionary;
    }
    const auto loaded = mirelo::dict::LoadFolder(folder, {}, mirelo::Utf8ToWide(game));
    for (const Problem& p : loaded.problems) Out().Write(DescribeProblem(p) + "\n");
    const Dictionary* d = loaded.dictionary.get();
    const std::string folderName = FolderName(folder, game);
    // A game's view lists what is in use, so that the player sees which entry won.
    if (!game.empty() && d != nullptr) {
        uint32_t count = 0;
        for (Kind kind : mirelo::dict::kKinds) count += static_cast<uint32_t>(d->Count(kind));
        for (uint32_t i = 0; i < count; ++i) Out().Write(Describe(d->Info(i)) + "\n");
    }
    const std::string files = std::to_string(loaded.files);
    const EntryCounts n(d);
    Out().Write(
        (n.lines()
             ? Format(Msg::kDictSummaryLines, {folderName, files, n.name, n.pre, n.post, n.line})
             : Format(Msg::kDictSummary, {folderName, files, n.name, n.pre, n.post})) +
        n.patterns() + "\n");
    if (loaded.files > 0 && d == nullptr) {
        Out().Write(std::string(Text(Msg::kDictOutOfMemory)) + "\n");
        return kExitDictionary;
    }
    return loaded.problems.empty() ? kExitOk : kExitDictionary;
}

DictionaryTrace::DictionaryTrace(const std::wstring& folder, const std::string& game) {
    auto loaded = mirelo::dict::LoadFolder(folder, {}, mirelo::Utf8ToWide(game));
    for (const Problem& p : loaded.problems)
        Err().Write(kPrefix + Format(Msg::kTraceProblem, {DescribeProblem(p)}) + "\n");
    m_dictionary = std::move(loaded.dictionary);
    const std::string folderName = FolderName(folder, game);
    const EntryCounts n(m_dictionary.get());
    Err().Write(kPrefix +
                (n.lines()
                     ? Format(Msg::kTraceCountsLines, {folderName, n.name, n.pre, n.post, n.line})
                     : Format(Msg::kTraceCounts, {folderName, n.name, n.pre, n.post})) +
                n.patterns() + "\n");
}

void DictionaryTrace::Line(unsigned long number, const std::string& sjisSource,
                           const std::string& cp949Result) const {
    if (!m_dictionary || m_dictionary->Empty()) return;
    const Dictionary& d = *m_dictionary;
    const std::string line = std::to_string(number);
    std::vector<Firing> fired;
    // A line entry answers alone: nothing else ran.
    if (std::string_view to; d.FindLine(sjisSource, to, &fired)) {
        for (const Firing& f : fired)
            Err().Write(kPrefix + Format(Msg::kTraceLine, {line, Describe(d.Info(f.entry))}) +
                        "\n");
        return;
    }
    const std::string patterned = RunPass(d, &Dictionary::ApplyPreRe, sjisSource, fired);
    const std::string pre = RunPass(d, &Dictionary::ApplyPre, patterned, fired);
    RunPass(d, &Dictionary::ProtectNames, pre, fired);

    const std::string result = Cp949ToUtf8(cp949Result);
    for (const Firing& f : fired) {
        const EntryInfo& e = d.Info(f.entry);
        const bool lost = e.kind == Kind::Name && result.find(e.to) == std::string::npos;
        const std::string entry = e.kind == Kind::PreRe ? DescribePattern(e, f)
                                  : lost                ? Format(Msg::kTraceNameLost, {Describe(e)})
                                                        : Describe(e);
        Err().Write(kPrefix + Format(Msg::kTraceLine, {line, entry}) + "\n");
    }
    // What the post pass saw never leaves the plug-in: name the entries whose TO the result
    // holds. Deletions cannot be seen this way.
    // A post-re TO that takes groups of the match cannot be looked for.
    const size_t firstPost = d.Count(Kind::Pre) + d.Count(Kind::Name);
    const size_t firstPostRe =
        firstPost + d.Count(Kind::Post) + d.Count(Kind::Line) + d.Count(Kind::PreRe);
    std::vector<size_t> posts;
    for (size_t id = firstPost; id < firstPost + d.Count(Kind::Post); ++id) posts.push_back(id);
    for (size_t id = firstPostRe; id < firstPostRe + d.Count(Kind::PostRe); ++id)
        posts.push_back(id);
    for (const size_t id : posts) {
        const EntryInfo& e = d.Info(static_cast<uint32_t>(id));
        if (e.to.empty() || result.find(e.to) == std::string::npos) continue;
        if (e.kind == Kind::PostRe && e.to.find('$') != std::string::npos) continue;
        Err().Write(kPrefix +
                    Format(Msg::kTraceLine, {line, Format(Msg::kTraceMaybe, {Describe(e)})}) +
                    "\n");
    }
}

}  // namespace host

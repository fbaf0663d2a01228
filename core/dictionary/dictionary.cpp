#include "dictionary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "byte_trie.h"
#include "encoding_guess.h"
#include "korean.h"
#include "marker_format.h"
#include "patterns.h"
#include "utf8.h"

namespace mirelo::dict {
namespace {

constexpr uint32_t kNone = ByteTrie::kNone;

// What a `line` entry and a source line are compared without: editors and hosts disagree
// on these, and none of them can be seen on screen.
std::string_view LineBody(std::string_view text) {
    const size_t last = text.find_last_not_of(" \t\r\n");
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

uint32_t HashLine(std::string_view bytes) {
    uint32_t h = 2166136261u;
    for (const char c : bytes) h = (h ^ static_cast<Byte>(c)) * 16777619u;
    return h;
}

// ---- Reading the files ----

// "U+301C" and the character itself, for a reason text.
std::string DescribeCharacter(std::string_view utf8) {
    unsigned cp = static_cast<Byte>(utf8[0]);
    if (cp >= 0xF0)
        cp &= 0x07;
    else if (cp >= 0xE0)
        cp &= 0x0F;
    else if (cp >= 0xC0)
        cp &= 0x1F;
    for (size_t k = 1; k < utf8.size(); ++k) cp = cp << 6 | (static_cast<Byte>(utf8[k]) & 0x3Fu);
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", cp);
    return std::string(hex) + " (" + std::string(utf8) + ")";
}

// An accepted line, in reading order: a later one has a greater index. Its encoded sides
// are in the reader's arena, its texts as written (when kept) in the written blob.
struct Candidate {
    Kind kind;
    Final final;  // of a name's TO
    uint16_t fromLength, toLength;
    uint32_t from, to;
    uint32_t file;
    int32_t line;
    uint32_t written;
    uint16_t fromTextLength, toTextLength;
};

// A pattern entry read, compiled already: a later one has a greater index.
struct PatternCandidate {
    Kind kind;
    uint32_t file;
    int32_t line;
    std::string pattern, replacement;  // as written
    std::unique_ptr<rx::Pattern> compiled;
};

// Reads files one at a time into candidates; a file's bytes are not needed once read.
class Reader {
  public:
    Reader(const TextEncoders& encoders, std::vector<Problem>* problems,
           const CompileOptions& options)
        : encoders_(encoders), problems_(problems), options_(options) {}

    // False when asked to stop.
    bool ReadFile(const SourceFile& file);
    // Gives back the room reserved for what the files could have held.
    void DoneReading() { arena_.shrink_to_fit(); }

    std::string_view Encoded(uint32_t offset, uint16_t length) const {
        return std::string_view(arena_).substr(offset, length);
    }
    bool Stopped() const {
        return options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed);
    }
    bool KeepOrigins() const { return options_.keepOrigins; }

    std::vector<Candidate>& Candidates() { return candidates_; }
    std::vector<PatternCandidate>& Patterns() { return patterns_; }
    const TextEncoders& Encoders() const { return encoders_; }
    std::vector<std::string> TakeFileNames() { return std::move(fileNames_); }
    std::string TakeWritten() { return std::move(written_); }

  private:
    void ReadLine(uint32_t file, const std::string& name, int line, std::string_view text);
    void ReadPattern(Kind kind, uint32_t file, const std::string& name, int line,
                     std::string_view pattern, std::string_view replacement);
    // Encodes one side into the arena; on failure fills `why`.
    bool Encode(const Encoder& encoder, const char* codePage, const char* side,
                std::string_view utf8, uint32_t& offset, uint16_t& length, Problem& why);
    // False, with the file reported, when it was saved in another encoding than UTF-8.
    bool CheckEncoding(const std::string& name, std::string_view bytes);
    void Report(const std::string& file, int line, std::string reason,
                ProblemKind kind = ProblemKind::kOther, std::vector<std::string> args = {}) {
        if (problems_ != nullptr)
            problems_->push_back({file, line, std::move(reason), kind, std::move(args)});
    }

    const TextEncoders& encoders_;
    std::vector<Problem>* problems_;
    const CompileOptions options_;
    std::vector<Candidate> candidates_;
    std::vector<PatternCandidate> patterns_;
    std::vector<std::string> fileNames_;
    std::string arena_;    // encoded FROM and TO of every candidate
    std::string written_;  // and as written, when origins are kept
    std::string scratch_;
};

// Lines read between two looks at the stop flag.
constexpr int kLinesPerStopCheck = 4096;

bool Reader::ReadFile(const SourceFile& file) {
    const auto index = static_cast<uint32_t>(fileNames_.size());
    fileNames_.push_back(file.name);
    if (file.bytes.size() > kMaxFileBytes) {
        Report(file.name, 0, "file is larger than 16 MiB; skipped whole",
               ProblemKind::kFileTooLarge);
        return true;
    }
    if (!CheckEncoding(file.name, file.bytes)) return true;
    // Room for all the file can give, so nothing grows by copying: each candidate takes a
    // line, and its encoded sides are never longer than the line.
    const auto lines = static_cast<size_t>(std::count(file.bytes.begin(), file.bytes.end(), '\n'));
    candidates_.reserve(candidates_.size() + lines + 1);
    arena_.reserve(arena_.size() + file.bytes.size());
    if (KeepOrigins()) written_.reserve(written_.size() + file.bytes.size());

    std::string_view rest = file.bytes;
    text::StripUtf8Bom(rest);
    int line = 0;
    while (!rest.empty()) {
        if (++line % kLinesPerStopCheck == 0 && Stopped()) return false;
        // CR LF, LF, and a CR alone each end a line, as editors show them.
        const size_t eol = rest.find_first_of("\r\n");
        const std::string_view text = rest.substr(0, eol);
        size_t next = eol == std::string_view::npos ? rest.size() : eol + 1;
        if (eol != std::string_view::npos && rest[eol] == '\r' && next < rest.size() &&
            rest[next] == '\n')
            ++next;
        rest.remove_prefix(next);
        ReadLine(index, file.name, line, text);
    }
    return true;
}

bool Reader::CheckEncoding(const std::string& name, std::string_view bytes) {
    if (text::LooksLikeUtf16(bytes)) {
        Report(name, 0, "this file looks like UTF-16; save it as UTF-8", ProblemKind::kFileUtf16);
        return false;
    }
    // A mark says UTF-8, and so does a file that mostly is: a few damaged lines are then
    // reported one by one. A tie is not "mostly": some CP949 Hangul is valid UTF-8 too.
    if (text::HasUtf8Bom(bytes) || text::IsUtf8(bytes)) return true;
    size_t valid = 0, invalid = 0;
    for (std::string_view rest = bytes; !rest.empty();) {
        const size_t eol = rest.find_first_of("\r\n");
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
        if (!text::IsUtf8(line))
            ++invalid;
        else if (std::any_of(line.begin(), line.end(), [](char c) { return (c & 0x80) != 0; }))
            ++valid;
    }
    if (invalid < valid) return true;
    switch (text::GuessLegacyCodePage(bytes)) {
        case text::LegacyCodePage::kCp949:
            Report(name, 0, "this file looks like CP949; save it as UTF-8",
                   ProblemKind::kFileCp949);
            return false;
        case text::LegacyCodePage::kShiftJis:
            Report(name, 0, "this file looks like Shift-JIS; save it as UTF-8",
                   ProblemKind::kFileShiftJis);
            return false;
        case text::LegacyCodePage::kNone:
            break;
    }
    return true;
}

void Reader::ReadLine(uint32_t file, const std::string& name, int line, std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos || text[first] == '#') return;
    if (!mirelo::text::IsUtf8(text))
        return Report(name, line, "not valid UTF-8", ProblemKind::kNotUtf8);
    if (text.find('\0') != std::string_view::npos)
        return Report(name, line, "holds a NUL character", ProblemKind::kNul);

    // KIND, FROM, TO, then an optional comment that may hold tabs of its own.
    std::string_view col[3];
    size_t columns = 0;
    std::string_view rest = text;
    for (bool more = true; more && columns < 3;) {
        const size_t tab = rest.find('\t');
        col[columns++] = rest.substr(0, tab);
        more = tab != std::string_view::npos;
        if (more) rest.remove_prefix(tab + 1);
    }
    if (columns < 3) {
        return Report(name, line,
                      "expected KIND<TAB>FROM<TAB>TO, found " + std::to_string(columns) +
                          (columns == 1 ? " column" : " columns"),
                      ProblemKind::kColumns, {std::to_string(columns)});
    }

    std::string_view kindText = col[0];
    while (!kindText.empty() && kindText.front() == ' ') kindText.remove_prefix(1);
    while (!kindText.empty() && kindText.back() == ' ') kindText.remove_suffix(1);
    Kind kind;
    if (kindText == "pre") {
        kind = Kind::Pre;
    } else if (kindText == "name") {
        kind = Kind::Name;
    } else if (kindText == "post") {
        kind = Kind::Post;
    } else if (kindText == "line") {
        kind = Kind::Line;
    } else if (kindText == "pre-re") {
        kind = Kind::PreRe;
    } else if (kindText == "post-re") {
        kind = Kind::PostRe;
    } else {
        return Report(name, line,
                      "unknown kind \"" + std::string(kindText) +
                          "\" (name, pre, post, line, pre-re or post-re)",
                      ProblemKind::kUnknownKind, {std::string(kindText)});
    }
    if (kind == Kind::Line) {
        col[1] = LineBody(col[1]);
        // There are no escapes: a line break cannot be written, and one written as an
        // escape would only ever match those two characters.
        for (const char* escape : {"\\n", "\\r"}) {
            if (col[1].find(escape) != std::string_view::npos) {
                return Report(name, line,
                              "FROM holds " + std::string(escape) +
                                  ", which is not a line break here: a line entry answers one "
                                  "line",
                              ProblemKind::kLineEscape, {escape});
            }
        }
    }
    if (col[1].empty()) return Report(name, line, "FROM is empty", ProblemKind::kEmptyFrom);
    if (kind == Kind::PreRe || kind == Kind::PostRe)
        return ReadPattern(kind, file, name, line, col[1], col[2]);
    if (kind == Kind::Name && col[2].empty())
        return Report(name, line, "TO of a name is empty", ProblemKind::kEmptyNameTo);

    Candidate c{};
    c.kind = kind;
    c.final = kind == Kind::Name ? FinalOfUtf8(col[2]) : Final::Unknown;
    c.file = file;
    c.line = line;
    const bool fromSjis = kind != Kind::Post;
    const bool toSjis = kind == Kind::Pre;
    const size_t mark = arena_.size();
    Problem why;
    if (!Encode(fromSjis ? encoders_.toShiftJis : encoders_.toCp949,
                fromSjis ? "Shift-JIS" : "CP949", "FROM", col[1], c.from, c.fromLength, why) ||
        !Encode(toSjis ? encoders_.toShiftJis : encoders_.toCp949, toSjis ? "Shift-JIS" : "CP949",
                "TO", col[2], c.to, c.toLength, why)) {
        arena_.resize(mark);
        return Report(name, line, std::move(why.reason), why.kind, std::move(why.args));
    }
    if (KeepOrigins()) {
        // Each side is at most 1024 bytes encoded and every character takes a byte there,
        // so at most 4096 as written.
        if (written_.size() + text.size() > UINT32_MAX) throw std::bad_alloc();
        c.written = static_cast<uint32_t>(written_.size());
        c.fromTextLength = static_cast<uint16_t>(col[1].size());
        c.toTextLength = static_cast<uint16_t>(col[2].size());
        written_ += col[1];
        written_ += col[2];
    }
    candidates_.push_back(c);
}

void Reader::ReadPattern(Kind kind, uint32_t file, const std::string& name, int line,
                         std::string_view pattern, std::string_view replacement) {
    const bool sjis = kind == Kind::PreRe;
    const char* codePage = sjis ? "Shift-JIS" : "CP949";
    const Encoder& encoder = sjis ? encoders_.toShiftJis : encoders_.toCp949;
    const Decoder& decoder = sjis ? encoders_.fromShiftJis : encoders_.fromCp949;
    if (!encoder || !decoder) {
        return Report(name, line, std::string("FROM: no ") + codePage + " conversion available",
                      ProblemKind::kNoConversion, {"FROM", codePage});
    }
    rx::PatternFault why{};
    auto compiled = rx::Pattern::Compile(pattern, replacement, encoder, decoder, why);
    if (!compiled) {
        const std::string number = std::to_string(why.number);
        switch (why.what) {
            case rx::PatternFault::kTooLong:
                return Report(name, line,
                              "the pattern is " + number + " characters, more than " +
                                  std::to_string(kMaxPatternChars),
                              ProblemKind::kPatternTooLong, {number});
            case rx::PatternFault::kSyntax:
                return Report(name, line,
                              "the pattern fails at character " + number + ": " + why.text,
                              ProblemKind::kPatternSyntax, {number, why.text});
            case rx::PatternFault::kGroup:
                return Report(name, line,
                              "TO uses " + why.text + ", but the pattern has " + number +
                                  (why.number == 1 ? " group" : " groups"),
                              ProblemKind::kPatternGroup, {why.text, number});
            case rx::PatternFault::kNoForm: {
                const std::string character = DescribeCharacter(why.text);
                const char* side = why.number == 0 ? "FROM" : "TO";
                return Report(
                    name, line,
                    std::string(side) + ": " + character + " has no " + codePage + " form",
                    ProblemKind::kNoForm, {side, character, codePage});
            }
            case rx::PatternFault::kReplacementTooLong:
                return Report(name, line,
                              "TO is " + number + " bytes in " + codePage + ", more than 1024",
                              ProblemKind::kTooLong, {"TO", number, codePage});
        }
        return;
    }
    patterns_.push_back(
        {kind, file, line, std::string(pattern), std::string(replacement), std::move(compiled)});
}

bool Reader::Encode(const Encoder& encoder, const char* codePage, const char* side,
                    std::string_view utf8, uint32_t& offset, uint16_t& length, Problem& why) {
    const auto notWritable = [&] {
        why = {{},
               0,
               std::string(side) + ": cannot be written in " + codePage,
               ProblemKind::kNotWritable,
               {side, codePage}};
        return false;
    };
    std::string& out = scratch_;
    out.clear();
    if (!utf8.empty()) {
        if (!encoder) {
            why = {{},
                   0,
                   std::string(side) + ": no " + codePage + " conversion available",
                   ProblemKind::kNoConversion,
                   {side, codePage}};
            return false;
        }
        if (!encoder(utf8, out)) {
            // Name the first character that has no form, so the user knows what to change.
            std::string one;
            for (size_t i = 0; i < utf8.size();) {
                const size_t len =
                    std::min(text::Utf8SequenceLength(static_cast<Byte>(utf8[i])), utf8.size() - i);
                if (!encoder(utf8.substr(i, len), one)) {
                    const std::string character = DescribeCharacter(utf8.substr(i, len));
                    why = {{},
                           0,
                           std::string(side) + ": " + character + " has no " + codePage + " form",
                           ProblemKind::kNoForm,
                           {side, character, codePage}};
                    return false;
                }
                i += len;
            }
            return notWritable();
        }
    }
    if (out.size() > kMaxSideBytes) {
        why = {{},
               0,
               std::string(side) + " is " + std::to_string(out.size()) + " bytes in " + codePage +
                   ", more than 1024",
               ProblemKind::kTooLong,
               {side, std::to_string(out.size()), codePage}};
        return false;
    }
    if (out.find('\0') != std::string::npos) return notWritable();
    if (arena_.size() + out.size() > UINT32_MAX) throw std::bad_alloc();
    offset = static_cast<uint32_t>(arena_.size());
    length = static_cast<uint16_t>(out.size());
    arena_ += out;
    return true;
}

// ---- Writing results ----

// Keeps the first cap-1 bytes of a result and counts all of them.
class Out {
  public:
    Out(char* d, size_t cap)
        : d_(reinterpret_cast<Byte*>(d)),
          lim_(d == nullptr || cap == 0 ? 0 : cap - 1),
          ok_(d != nullptr && cap != 0) {}
    void Copy(const void* s, size_t k) {
        if (o_ < lim_ && k != 0) std::memcpy(d_ + o_, s, std::min(k, lim_ - o_));
        o_ += k;
    }
    void Copy(std::string_view s) { Copy(s.data(), s.size()); }
    size_t Finish() {
        if (ok_) d_[std::min(o_, lim_)] = 0;
        return o_;
    }

  private:
    Byte* d_;
    size_t lim_;
    bool ok_;
    size_t o_ = 0;
};

void Fire(std::vector<Firing>* fired, uint32_t entry) {
    if (fired == nullptr) return;
    try {
        fired->push_back({entry});
    } catch (...) {
        // A trace that runs out of memory loses a line; the text is still right.
    }
}

// ---- The compiled form ----

// What replaces a match: the encoded TO in the texts blob, and for names how it ends.
struct Target {
    uint32_t offset;
    uint16_t length;
    Final final;
};

// Where an entry was read, for traces: its FROM and TO as written lie one after the other
// in the written blob.
struct Origin {
    uint32_t file;
    int32_t line;
    uint32_t text;
    uint16_t fromLength, toLength;
};

class Compiled final : public Dictionary {
  public:
    // Takes what `reader` read. False when asked to stop.
    bool Build(Reader& reader, std::vector<Problem>* problems);

    size_t Count(Kind kind) const override { return count_[kind]; }
    EntryInfo Info(uint32_t entry) const override;
    size_t ApplyPre(const char* src, char* dst, size_t cap,
                    std::vector<Firing>* fired) const override {
        return Substitute(tries_[Kind::Pre], SjisUnits(), src, dst, cap, fired);
    }
    size_t ProtectNames(const char* src, char* dst, size_t cap,
                        std::vector<Firing>* fired) const override;
    size_t RestoreNames(const char* src, char* dst, size_t cap,
                        std::vector<Firing>* fired) const override;
    size_t ApplyPost(const char* src, char* dst, size_t cap,
                     std::vector<Firing>* fired) const override {
        return Substitute(tries_[Kind::Post], Cp949Units(), src, dst, cap, fired);
    }
    size_t ApplyPreRe(const char* src, char* dst, size_t cap,
                      std::vector<Firing>* fired) const override {
        size_t steps = 0;
        return ApplyPatterns(Kind::PreRe, src, dst, cap, fired, steps);
    }
    size_t ApplyPostRe(const char* src, char* dst, size_t cap,
                       std::vector<Firing>* fired) const override {
        size_t steps = 0;
        return ApplyPatterns(Kind::PostRe, src, dst, cap, fired, steps);
    }
    size_t ApplyPatterns(Kind kind, const char* src, char* dst, size_t cap,
                         std::vector<Firing>* fired, size_t& steps) const override;
    bool FindLine(std::string_view source, std::string_view& to,
                  std::vector<Firing>* fired) const override;

  private:
    // The steps of Build.
    std::vector<uint32_t> LastOfEachFrom(const std::vector<Candidate>& all, const Reader& reader,
                                         std::vector<Problem>* problems) const;
    void CapNames(const std::vector<Candidate>& all, std::vector<uint32_t>& used,
                  std::vector<Problem>* problems) const;
    void LayOutTexts(const std::vector<Candidate>& all, Reader& reader,
                     const std::vector<uint32_t>& used);
    ByKind<std::vector<std::string_view>> FromsByKind(const std::vector<Candidate>& all,
                                                      const Reader& reader,
                                                      const std::vector<uint32_t>& used) const;
    void BuildTries(const ByKind<std::vector<std::string_view>>& froms);
    void BuildLineTable(const std::vector<std::string_view>& froms);
    void TakePatterns(Reader& reader, std::vector<Problem>* problems);

    template <class Unit, class Emit>
    size_t Replace(const ByteTrie& trie, Unit unit, const char* src, char* dst, size_t cap,
                   std::vector<Firing>* fired, Emit emit) const;
    template <class Unit>
    size_t Substitute(const ByteTrie& trie, Unit unit, const char* src, char* dst, size_t cap,
                      std::vector<Firing>* fired) const {
        return Replace(trie, unit, src, dst, cap, fired,
                       [this](Out& out, uint32_t id) { out.Copy(To(id)); });
    }
    std::string_view To(uint32_t entry) const {
        return std::string_view(texts_).substr(targets_[entry].offset, targets_[entry].length);
    }
    // Entry numbers of a kind start here.
    uint32_t First(Kind kind) const {
        uint32_t first = 0;
        for (Kind k : kKinds) {
            if (k == kind) break;
            first += static_cast<uint32_t>(count_[k]);
        }
        return first;
    }

    std::vector<std::string> fileNames_;
    std::vector<Origin> origins_;  // by entry number, when kept
    std::string written_;
    std::vector<Target> targets_;  // by entry number
    std::string texts_;
    ByKind<ByteTrie> tries_;
    ByKind<size_t> count_;
    uint32_t firstName_ = 0;
    // `line` entries are looked up whole: their encoded FROMs one after the other (entry
    // k's from lineStarts_[k] to lineStarts_[k + 1]), and an open-addressing table of
    // k + 1 (0: free) by HashLine.
    uint32_t firstLine_ = 0;
    std::string lineFroms_;
    std::vector<uint32_t> lineStarts_;
    std::vector<uint32_t> lineSlots_;
    // `pre-re` entries, then `post-re`, by entry number less First(Kind::PreRe).
    std::vector<PatternCandidate> patterns_;
    Decoder fromShiftJis_, fromCp949_;
};

bool Compiled::Build(Reader& reader, std::vector<Problem>* problems) {
    std::vector<Candidate>& all = reader.Candidates();
    fileNames_ = reader.TakeFileNames();
    std::vector<uint32_t> used = LastOfEachFrom(all, reader, problems);
    if (reader.Stopped()) return false;
    CapNames(all, used, problems);
    LayOutTexts(all, reader, used);
    const ByKind<std::vector<std::string_view>> froms = FromsByKind(all, reader, used);
    // The tries need only the encoded FROMs from here on: the rest goes before they grow.
    std::vector<Candidate>().swap(all);
    std::vector<uint32_t>().swap(used);
    if (reader.Stopped()) return false;
    BuildTries(froms);
    TakePatterns(reader, problems);
    return true;
}

// Of the same pattern twice in a kind, the one read last; past kMaxPatterns, the ones read
// last go, so that earlier files keep working.
void Compiled::TakePatterns(Reader& reader, std::vector<Problem>* problems) {
    std::vector<PatternCandidate>& all = reader.Patterns();
    if (all.empty()) return;
    std::vector<uint32_t> order(all.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (all[a].kind != all[b].kind) return all[a].kind < all[b].kind;
        if (const int c = all[a].pattern.compare(all[b].pattern); c != 0) return c < 0;
        return a < b;
    });
    std::vector<bool> used(all.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const bool shadowed = i + 1 < order.size() &&
                              all[order[i + 1]].kind == all[order[i]].kind &&
                              all[order[i + 1]].pattern == all[order[i]].pattern;
        used[order[i]] = !shadowed;
    }
    size_t kept = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (!used[i] || ++kept <= kMaxPatterns) continue;
        used[i] = false;
        if (problems != nullptr)
            problems->push_back({fileNames_[all[i].file],
                                 all[i].line,
                                 "more than " + std::to_string(kMaxPatterns) + " pattern entries",
                                 ProblemKind::kTooManyPatterns,
                                 {}});
    }
    for (Kind kind : {Kind::PreRe, Kind::PostRe}) {
        for (size_t i = 0; i < all.size(); ++i) {
            if (!used[i] || all[i].kind != kind) continue;
            ++count_[kind];
            patterns_.push_back(std::move(all[i]));
        }
    }
    if (!patterns_.empty()) {
        fromShiftJis_ = reader.Encoders().fromShiftJis;
        fromCp949_ = reader.Encoders().fromCp949;
    }
}

size_t Compiled::ApplyPatterns(Kind kind, const char* src, char* dst, size_t cap,
                               std::vector<Firing>* fired, size_t& steps) const {
    const std::string_view text = src == nullptr ? std::string_view() : std::string_view(src);
    if ((kind == Kind::PreRe || kind == Kind::PostRe) && count_[kind] != 0) {
        try {
            rx::CharLine a, b;
            const bool sjis = kind == Kind::PreRe;
            if (rx::SplitLine(src, sjis, sjis ? fromShiftJis_ : fromCp949_, a)) {
                rx::CharLine* line = &a;
                rx::CharLine* next = &b;
                const size_t maxChars = 2 * a.chars.size() + kPatternGrowthChars;
                const uint32_t first = First(kind);
                const size_t offset = kind == Kind::PreRe ? 0 : count_[Kind::PreRe];
                size_t lineLeft = kPatternLineSteps;
                std::vector<std::string> replaced;
                for (uint32_t k = 0; k < count_[kind]; ++k) {
                    replaced.clear();
                    const size_t allowed = std::min(kPatternEntrySteps, lineLeft);
                    size_t used = allowed;
                    const rx::PatternResult r = patterns_[offset + k].compiled->Apply(
                        *line, *next, maxChars, fired != nullptr ? &replaced : nullptr, used);
                    lineLeft -= used;
                    steps += used;
                    if (r == rx::PatternResult::kNoMatch) continue;
                    FiringKind what = FiringKind::kApplied;
                    if (r == rx::PatternResult::kReplaced)
                        std::swap(line, next);
                    else if (r == rx::PatternResult::kTooLong)
                        what = FiringKind::kTooLong;
                    else
                        what = allowed < kPatternEntrySteps ? FiringKind::kLineOverBudget
                                                            : FiringKind::kOverBudget;
                    if (fired != nullptr) fired->push_back({first + k, what, std::move(replaced)});
                }
                Out out(dst, cap);
                out.Copy(line->bytes);
                return out.Finish();
            }
        } catch (...) {
            // Out of memory: the text goes on as it came.
        }
    }
    Out out(dst, cap);
    out.Copy(text);
    return out.Finish();
}

// Candidates grouped by kind, then by encoded FROM: of each run of the same FROM, the one
// read last. The result is in that order, which numbers the entries.
std::vector<uint32_t> Compiled::LastOfEachFrom(const std::vector<Candidate>& all,
                                               const Reader& reader,
                                               std::vector<Problem>* problems) const {
    std::vector<uint32_t> order(all.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto from = [&](uint32_t k) { return reader.Encoded(all[k].from, all[k].fromLength); };
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (all[a].kind != all[b].kind) return all[a].kind < all[b].kind;
        if (const int c = from(a).compare(from(b)); c != 0) return c < 0;
        return a < b;
    });
    std::vector<uint32_t> used;
    // A line given twice is most likely a correction made again without the old one taken
    // out: the one left unused is named, in reading order. Entries of the other kinds keep
    // overriding one another unremarked.
    std::vector<std::pair<uint32_t, uint32_t>> repeated;  // unused, then the one used
    for (size_t i = 0; i < order.size(); ++i) {
        const auto same = [&](size_t j) {
            return j < order.size() && all[order[j]].kind == all[order[i]].kind &&
                   from(order[j]) == from(order[i]);
        };
        if (!same(i + 1)) {
            used.push_back(order[i]);
            continue;
        }
        if (all[order[i]].kind != Kind::Line || problems == nullptr) continue;
        size_t kept = i + 1;
        while (same(kept + 1)) ++kept;
        repeated.emplace_back(order[i], order[kept]);
    }
    std::sort(repeated.begin(), repeated.end());
    for (const auto& [lostIndex, keptIndex] : repeated) {
        const Candidate& lost = all[lostIndex];
        const Candidate& kept = all[keptIndex];
        const std::string& keptFile = fileNames_[kept.file];
        const std::string keptLine = std::to_string(kept.line);
        problems->push_back({fileNames_[lost.file],
                             lost.line,
                             "the same line is given again at " + keptFile + ":" + keptLine +
                                 ", which is used instead",
                             ProblemKind::kLineRepeated,
                             {keptFile, keptLine}});
    }
    return used;
}

// Names past the marker's range: the ones read last go, so earlier files keep working.
void Compiled::CapNames(const std::vector<Candidate>& all, std::vector<uint32_t>& used,
                        std::vector<Problem>* problems) const {
    std::vector<uint32_t> names;
    for (uint32_t k : used)
        if (all[k].kind == Kind::Name) names.push_back(k);
    if (names.size() <= kMaxNames) return;
    std::sort(names.begin(), names.end());  // reading order
    std::vector<bool> drop(all.size());
    for (size_t i = kMaxNames; i < names.size(); ++i) {
        drop[names[i]] = true;
        const Candidate& c = all[names[i]];
        if (problems != nullptr)
            problems->push_back({fileNames_[c.file],
                                 c.line,
                                 "more than 100000 names",
                                 ProblemKind::kTooManyNames,
                                 {}});
    }
    std::erase_if(used, [&](uint32_t k) { return drop[k]; });
}

// Entry numbers follow `used`: the encoded TO of each goes to the texts blob and, when
// origins are kept, where it was read and the written blob to find it as written.
void Compiled::LayOutTexts(const std::vector<Candidate>& all, Reader& reader,
                           const std::vector<uint32_t>& used) {
    size_t textBytes = 0;
    for (uint32_t k : used) textBytes += all[k].toLength;
    if (textBytes > UINT32_MAX) throw std::bad_alloc();
    texts_.reserve(textBytes);
    targets_.reserve(used.size());
    if (reader.KeepOrigins()) origins_.reserve(used.size());
    for (uint32_t k : used) {
        const Candidate& c = all[k];
        ++count_[c.kind];
        targets_.push_back({static_cast<uint32_t>(texts_.size()), c.toLength, c.final});
        texts_ += reader.Encoded(c.to, c.toLength);
        if (reader.KeepOrigins())
            origins_.push_back({c.file, c.line, c.written, c.fromTextLength, c.toTextLength});
    }
    // Shadowed entries' texts stay in it: fewer bytes than copying the rest out.
    if (reader.KeepOrigins()) written_ = reader.TakeWritten();
    firstName_ = First(Kind::Name);
    firstLine_ = First(Kind::Line);
}

ByKind<std::vector<std::string_view>> Compiled::FromsByKind(
    const std::vector<Candidate>& all, const Reader& reader,
    const std::vector<uint32_t>& used) const {
    ByKind<std::vector<std::string_view>> froms;
    for (Kind kind : kKinds) froms[kind].reserve(count_[kind]);
    for (uint32_t k : used)
        froms[all[k].kind].push_back(reader.Encoded(all[k].from, all[k].fromLength));
    return froms;
}

// Each kind's trie maps its encoded FROMs, already sorted and unique, to entry numbers.
void Compiled::BuildTries(const ByKind<std::vector<std::string_view>>& froms) {
    BuildLineTable(froms[Kind::Line]);
    for (Kind kind : kKinds) {
        if (kind == Kind::Line) continue;
        std::vector<uint32_t> ids(froms[kind].size());
        for (uint32_t i = 0; i < ids.size(); ++i) ids[i] = First(kind) + i;
        tries_[kind].Build(froms[kind], ids);
    }
}

void Compiled::BuildLineTable(const std::vector<std::string_view>& froms) {
    if (froms.empty()) return;
    size_t bytes = 0;
    for (std::string_view f : froms) bytes += f.size();
    if (bytes > UINT32_MAX) throw std::bad_alloc();
    lineFroms_.reserve(bytes);
    lineStarts_.reserve(froms.size() + 1);
    for (std::string_view f : froms) {
        lineStarts_.push_back(static_cast<uint32_t>(lineFroms_.size()));
        lineFroms_ += f;
    }
    lineStarts_.push_back(static_cast<uint32_t>(lineFroms_.size()));
    // At most half full, so a miss ends after a probe or two.
    size_t slots = 16;
    while (slots < 2 * froms.size()) slots *= 2;
    lineSlots_.assign(slots, 0);
    for (uint32_t k = 0; k < froms.size(); ++k) {
        size_t s = HashLine(froms[k]) & (slots - 1);
        while (lineSlots_[s] != 0) s = (s + 1) & (slots - 1);
        lineSlots_[s] = k + 1;
    }
}

bool Compiled::FindLine(std::string_view source, std::string_view& to,
                        std::vector<Firing>* fired) const {
    if (lineSlots_.empty()) return false;
    const std::string_view body = LineBody(source);
    if (body.empty()) return false;
    const size_t mask = lineSlots_.size() - 1;
    for (size_t s = HashLine(body) & mask; lineSlots_[s] != 0; s = (s + 1) & mask) {
        const uint32_t k = lineSlots_[s] - 1;
        const std::string_view from =
            std::string_view(lineFroms_)
                .substr(lineStarts_[k], lineStarts_[k + 1] - lineStarts_[k]);
        if (from != body) continue;
        to = To(firstLine_ + k);
        Fire(fired, firstLine_ + k);
        return true;
    }
    return false;
}

EntryInfo Compiled::Info(uint32_t entry) const {
    if (entry >= First(Kind::PreRe) && entry - First(Kind::PreRe) < patterns_.size()) {
        const PatternCandidate& p = patterns_[entry - First(Kind::PreRe)];
        return {p.kind, fileNames_[p.file], p.line, p.pattern, p.replacement};
    }
    if (entry >= targets_.size()) return {Kind::Pre, {}, 0, {}, {}};
    Kind kind = Kind::Line;
    for (Kind k : kKinds) {
        if (entry < First(k) + count_[k]) {
            kind = k;
            break;
        }
    }
    if (entry >= origins_.size()) return {kind, {}, 0, {}, {}};
    const Origin& o = origins_[entry];
    const std::string_view text = std::string_view(written_).substr(o.text);
    return {kind, fileNames_[o.file], o.line, std::string(text.substr(0, o.fromLength)),
            std::string(text.substr(o.fromLength, o.toLength))};
}

// `emit(out, id)` writes what replaces a match of entry `id`.
template <class Unit, class Emit>
size_t Compiled::Replace(const ByteTrie& trie, Unit unit, const char* src, char* dst, size_t cap,
                         std::vector<Firing>* fired, Emit emit) const {
    Out out(dst, cap);
    if (src == nullptr) return out.Finish();
    const auto* s = reinterpret_cast<const Byte*>(src);
    size_t copied = 0;
    size_t i = 0;
    while (s[i] != 0) {
        size_t length = 0;
        const uint32_t id = trie.MayStart(s[i]) ? trie.Longest(s + i, unit, length) : kNone;
        if (id == kNone) {
            i += unit(s + i);
            continue;
        }
        out.Copy(s + copied, i - copied);
        emit(out, id);
        Fire(fired, id);
        i += length;
        copied = i;
    }
    out.Copy(s + copied, i - copied);
    return out.Finish();
}

size_t Compiled::ProtectNames(const char* src, char* dst, size_t cap,
                              std::vector<Firing>* fired) const {
    return Replace(tries_[Kind::Name], SjisUnits(), src, dst, cap, fired,
                   [this](Out& out, uint32_t id) {
                       const auto marker = detail::MakeNameMarker(id - firstName_);
                       out.Copy(marker.data(), detail::kNameMarkerLength);
                   });
}

size_t Compiled::RestoreNames(const char* src, char* dst, size_t cap,
                              std::vector<Firing>* fired) const {
    Out out(dst, cap);
    if (src == nullptr) return out.Finish();
    const auto* s = reinterpret_cast<const Byte*>(src);
    const size_t n = std::strlen(src);
    size_t copied = 0;
    size_t j = 0;
    // Markers are found byte by byte, as the marker decoders find theirs: no CP949 second
    // byte is '_'.
    while (count_[Kind::Name] != 0 && j < n) {
        const void* hit = std::memchr(s + j, '_', n - j);
        if (hit == nullptr) break;
        const size_t p = static_cast<size_t>(static_cast<const Byte*>(hit) - s);
        const int index = detail::NameMarkerAt(s + p);
        if (index < 0 || static_cast<size_t>(index) >= count_[Kind::Name]) {
            j = p + 1;
            continue;
        }
        const uint32_t id = firstName_ + static_cast<uint32_t>(index);
        out.Copy(s + copied, p - copied);
        out.Copy(To(id));
        Fire(fired, id);
        j = p + detail::kNameMarkerLength;
        std::string_view agreeing;
        if (const size_t particle = MatchParticle(s + j, targets_[id].final, agreeing)) {
            out.Copy(agreeing);
            j += particle;
        }
        copied = j;
    }
    out.Copy(s + copied, n - copied);
    return out.Finish();
}

}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Pre:
            return "pre";
        case Kind::Name:
            return "name";
        case Kind::Post:
            return "post";
        case Kind::Line:
            return "line";
        case Kind::PreRe:
            return "pre-re";
        case Kind::PostRe:
            return "post-re";
    }
    return "?";
}

struct Compiler::State {
    State(const TextEncoders& encoders, std::vector<Problem>* problems,
          const CompileOptions& options)
        : reader(encoders, problems, options), problems(problems) {}
    Reader reader;
    std::vector<Problem>* problems;
    bool failed = false;
};

Compiler::Compiler(const TextEncoders& encoders, std::vector<Problem>* problems,
                   const CompileOptions& options)
    : state_(new (std::nothrow) State(encoders, problems, options)) {}

Compiler::~Compiler() = default;

bool Compiler::Add(const SourceFile& file) {
    if (!state_ || state_->failed) return false;
    try {
        state_->failed = !state_->reader.ReadFile(file);
    } catch (...) {
        state_->failed = true;
    }
    return !state_->failed;
}

std::unique_ptr<Dictionary> Compiler::Finish() {
    if (!state_ || state_->failed) return nullptr;
    std::unique_ptr<State> state = std::move(state_);
    try {
        state->reader.DoneReading();
        auto dictionary = std::make_unique<Compiled>();
        if (!dictionary->Build(state->reader, state->problems)) return nullptr;
        return dictionary;
    } catch (...) {
        return nullptr;
    }
}

std::unique_ptr<Dictionary> Dictionary::Compile(std::span<const SourceFile> files,
                                                const TextEncoders& encoders,
                                                std::vector<Problem>* problems,
                                                const CompileOptions& options) {
    Compiler compiler(encoders, problems, options);
    for (const SourceFile& f : files)
        if (!compiler.Add(f)) return nullptr;
    return compiler.Finish();
}

std::string_view LineEnding(std::string_view source) {
    const size_t last = source.find_last_not_of("\r\n");
    return last == std::string_view::npos ? source : source.substr(last + 1);
}

const char* RunPass(const Dictionary& dictionary, Pass pass, const char* text, std::string& buffer,
                    std::vector<Firing>* fired) {
    if (buffer.size() < 1) buffer.resize(1);
    // A pattern pass is too costly to run twice: room for the longest result it may give,
    // each character taking at most two bytes.
    if (pass == &Dictionary::ApplyPreRe || pass == &Dictionary::ApplyPostRe) {
        const size_t length = text == nullptr ? 0 : std::strlen(text);
        buffer.resize(std::max(buffer.size(), 2 * (2 * length + kPatternGrowthChars) + 1));
    }
    const size_t mark = fired ? fired->size() : 0;
    const size_t length = (dictionary.*pass)(text, buffer.data(), buffer.size(), fired);
    if (length >= buffer.size()) {
        if (fired) fired->resize(mark);
        buffer.resize(length + 1);
        (dictionary.*pass)(text, buffer.data(), buffer.size(), fired);
    }
    return buffer.data();
}

}  // namespace mirelo::dict

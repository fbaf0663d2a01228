#include "dictionary.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "byte_trie.h"
#include "encoding_guess.h"
#include "korean.h"
#include "marker_format.h"
#include "utf8.h"

namespace mirelo::dict {
namespace {

constexpr uint32_t kNone = ByteTrie::kNone;

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

struct Candidate {
    Kind kind;
    uint32_t file;
    int line;
    uint32_t order;                // reading order, for "later wins"
    std::string from, to;          // encoded
    std::string fromText, toText;  // UTF-8 as written
};

class Reader {
  public:
    Reader(const TextEncoders& encoders, std::vector<Problem>* problems)
        : encoders_(encoders), problems_(problems) {}

    void ReadFile(uint32_t index, const SourceFile& file, std::vector<Candidate>& out);

  private:
    void ReadLine(uint32_t file, const std::string& name, int line, std::string_view text,
                  std::vector<Candidate>& out);
    // Encodes one side; on failure fills `why`.
    bool Encode(const Encoder& encoder, const char* codePage, const char* side,
                std::string_view utf8, std::string& out, Problem& why);
    // False, with the file reported, when it was saved in another encoding than UTF-8.
    bool CheckEncoding(const std::string& name, std::string_view bytes);
    void Report(const std::string& file, int line, std::string reason,
                ProblemKind kind = ProblemKind::kOther, std::vector<std::string> args = {}) {
        if (problems_ != nullptr)
            problems_->push_back({file, line, std::move(reason), kind, std::move(args)});
    }

    const TextEncoders& encoders_;
    std::vector<Problem>* problems_;
    uint32_t order_ = 0;
};

void Reader::ReadFile(uint32_t index, const SourceFile& file, std::vector<Candidate>& out) {
    if (file.bytes.size() > kMaxFileBytes) {
        Report(file.name, 0, "file is larger than 16 MiB; skipped whole",
               ProblemKind::kFileTooLarge);
        return;
    }
    if (!CheckEncoding(file.name, file.bytes)) return;
    std::string_view rest = file.bytes;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    int line = 0;
    while (!rest.empty()) {
        ++line;
        // CR LF, LF, and a CR alone each end a line, as editors show them.
        const size_t eol = rest.find_first_of("\r\n");
        const std::string_view text = rest.substr(0, eol);
        size_t next = eol == std::string_view::npos ? rest.size() : eol + 1;
        if (eol != std::string_view::npos && rest[eol] == '\r' && next < rest.size() &&
            rest[next] == '\n')
            ++next;
        rest.remove_prefix(next);
        ReadLine(index, file.name, line, text, out);
    }
}

bool Reader::CheckEncoding(const std::string& name, std::string_view bytes) {
    if (text::LooksLikeUtf16(bytes)) {
        Report(name, 0, "this file looks like UTF-16; save it as UTF-8", ProblemKind::kFileUtf16);
        return false;
    }
    // A mark says UTF-8, and so does a file that mostly is: a few damaged lines are then
    // reported one by one.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF" || text::IsUtf8(bytes)) return true;
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
    if (invalid <= valid) return true;
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

void Reader::ReadLine(uint32_t file, const std::string& name, int line, std::string_view text,
                      std::vector<Candidate>& out) {
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
    } else {
        return Report(name, line,
                      "unknown kind \"" + std::string(kindText) + "\" (name, pre or post)",
                      ProblemKind::kUnknownKind, {std::string(kindText)});
    }
    if (col[1].empty()) return Report(name, line, "FROM is empty", ProblemKind::kEmptyFrom);
    if (kind == Kind::Name && col[2].empty())
        return Report(name, line, "TO of a name is empty", ProblemKind::kEmptyNameTo);

    Candidate c{kind, file, line, order_++, {}, {}, std::string(col[1]), std::string(col[2])};
    const bool fromSjis = kind != Kind::Post;
    const bool toSjis = kind == Kind::Pre;
    Problem why;
    if (!Encode(fromSjis ? encoders_.toShiftJis : encoders_.toCp949,
                fromSjis ? "Shift-JIS" : "CP949", "FROM", col[1], c.from, why) ||
        !Encode(toSjis ? encoders_.toShiftJis : encoders_.toCp949, toSjis ? "Shift-JIS" : "CP949",
                "TO", col[2], c.to, why)) {
        return Report(name, line, std::move(why.reason), why.kind, std::move(why.args));
    }
    out.push_back(std::move(c));
}

bool Reader::Encode(const Encoder& encoder, const char* codePage, const char* side,
                    std::string_view utf8, std::string& out, Problem& why) {
    out.clear();
    if (utf8.empty()) return true;
    if (!encoder) {
        why = {{},
               0,
               std::string(side) + ": no " + codePage + " conversion available",
               ProblemKind::kNoConversion,
               {side, codePage}};
        return false;
    }
    const auto notWritable = [&] {
        why = {{},
               0,
               std::string(side) + ": cannot be written in " + codePage,
               ProblemKind::kNotWritable,
               {side, codePage}};
        return false;
    };
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

struct Target {
    uint32_t offset;  // of the encoded TO in the texts blob
    uint16_t length;
    Final final;  // names only
};

class Compiled final : public Dictionary {
  public:
    void Build(std::vector<Candidate>& all, const std::vector<std::string>& fileNames,
               std::vector<Problem>* problems);

    size_t Count(Kind kind) const override { return count_[static_cast<int>(kind)]; }
    const EntryInfo& Info(uint32_t entry) const override {
        static const EntryInfo none{Kind::Pre, {}, 0, {}, {}};
        return entry < info_.size() ? info_[entry] : none;
    }
    size_t ApplyPre(const char* src, char* dst, size_t cap,
                    std::vector<Firing>* fired) const override {
        return Substitute(trie_[0], SjisUnits(), src, dst, cap, fired);
    }
    size_t ProtectNames(const char* src, char* dst, size_t cap,
                        std::vector<Firing>* fired) const override;
    size_t RestoreNames(const char* src, char* dst, size_t cap,
                        std::vector<Firing>* fired) const override;
    size_t ApplyPost(const char* src, char* dst, size_t cap,
                     std::vector<Firing>* fired) const override {
        return Substitute(trie_[2], Cp949Units(), src, dst, cap, fired);
    }

  private:
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
        return std::string_view(texts_).substr(target_[entry].offset, target_[entry].length);
    }

    std::vector<EntryInfo> info_;  // pre entries, then names, then post
    std::vector<Target> target_;
    std::string texts_;
    ByteTrie trie_[3];
    size_t count_[3] = {};
    uint32_t firstName_ = 0;
};

void Compiled::Build(std::vector<Candidate>& all, const std::vector<std::string>& fileNames,
                     std::vector<Problem>* problems) {
    // Grouped by kind, then FROM, then reading order: the last of each run is in use.
    std::vector<uint32_t> order(all.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const Candidate& x = all[a];
        const Candidate& y = all[b];
        if (x.kind != y.kind) return x.kind < y.kind;
        if (int c = x.from.compare(y.from); c != 0) return c < 0;
        return x.order < y.order;
    });
    std::vector<uint32_t> used;
    for (size_t i = 0; i < order.size(); ++i) {
        const Candidate& c = all[order[i]];
        if (i + 1 < order.size() && all[order[i + 1]].kind == c.kind &&
            all[order[i + 1]].from == c.from)
            continue;
        used.push_back(order[i]);
    }

    // Names past the marker's range: the ones read last go, so earlier files keep working.
    const auto isName = [&](uint32_t k) { return all[k].kind == Kind::Name; };
    const size_t names = std::count_if(used.begin(), used.end(), isName);
    if (names > kMaxNames) {
        std::vector<uint32_t> byOrder;
        for (uint32_t k : used)
            if (isName(k)) byOrder.push_back(k);
        std::sort(byOrder.begin(), byOrder.end(),
                  [&](uint32_t a, uint32_t b) { return all[a].order < all[b].order; });
        std::vector<bool> drop(all.size());
        for (size_t i = kMaxNames; i < byOrder.size(); ++i) {
            drop[byOrder[i]] = true;
            const Candidate& c = all[byOrder[i]];
            if (problems != nullptr)
                problems->push_back({fileNames[c.file],
                                     c.line,
                                     "more than 100000 names",
                                     ProblemKind::kTooManyNames,
                                     {}});
        }
        std::erase_if(used, [&](uint32_t k) { return drop[k]; });
    }

    size_t textBytes = 0;
    for (uint32_t k : used) textBytes += all[k].to.size();
    if (textBytes > UINT32_MAX) throw std::bad_alloc();
    texts_.reserve(textBytes);
    info_.reserve(used.size());
    target_.reserve(used.size());
    std::vector<std::string_view> keys[3];
    std::vector<uint32_t> values[3];
    for (uint32_t k : used) {
        Candidate& c = all[k];
        const auto id = static_cast<uint32_t>(info_.size());
        const int kind = static_cast<int>(c.kind);
        if (c.kind == Kind::Name && count_[1] == 0) firstName_ = id;
        ++count_[kind];
        keys[kind].push_back(c.from);
        values[kind].push_back(id);
        target_.push_back({static_cast<uint32_t>(texts_.size()), static_cast<uint16_t>(c.to.size()),
                           c.kind == Kind::Name ? FinalOfUtf8(c.toText) : Final::Unknown});
        texts_ += c.to;
        info_.push_back(
            {c.kind, fileNames[c.file], c.line, std::move(c.fromText), std::move(c.toText)});
    }
    for (int kind = 0; kind < 3; ++kind) trie_[kind].Build(keys[kind], values[kind]);
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
    return Replace(trie_[1], SjisUnits(), src, dst, cap, fired, [this](Out& out, uint32_t id) {
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
    while (count_[1] != 0 && j < n) {
        const void* hit = std::memchr(s + j, '_', n - j);
        if (hit == nullptr) break;
        const size_t p = static_cast<size_t>(static_cast<const Byte*>(hit) - s);
        const int index = detail::NameMarkerAt(s + p);
        if (index < 0 || static_cast<size_t>(index) >= count_[1]) {
            j = p + 1;
            continue;
        }
        const uint32_t id = firstName_ + static_cast<uint32_t>(index);
        out.Copy(s + copied, p - copied);
        out.Copy(To(id));
        Fire(fired, id);
        j = p + detail::kNameMarkerLength;
        std::string_view agreeing;
        if (const size_t particle = MatchParticle(s + j, target_[id].final, agreeing)) {
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
    }
    return "?";
}

std::unique_ptr<Dictionary> Dictionary::Compile(std::span<const SourceFile> files,
                                                const TextEncoders& encoders,
                                                std::vector<Problem>* problems) {
    try {
        Reader reader(encoders, problems);
        std::vector<Candidate> all;
        std::vector<std::string> fileNames;
        for (const SourceFile& f : files) {
            fileNames.push_back(f.name);
            reader.ReadFile(static_cast<uint32_t>(fileNames.size() - 1), f, all);
        }
        auto dictionary = std::make_unique<Compiled>();
        dictionary->Build(all, fileNames, problems);
        return dictionary;
    } catch (...) {
        return nullptr;
    }
}

const char* RunPass(const Dictionary& dictionary, Pass pass, const char* text, std::string& buffer,
                    std::vector<Firing>* fired) {
    if (buffer.size() < 1) buffer.resize(1);
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

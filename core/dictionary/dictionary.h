// User dictionaries: entries parsed from UTF-8 text files, compiled into byte matchers and
// applied to NUL-terminated multibyte texts. Platform-free: the conversion from UTF-8 to the
// two code pages is handed in.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mirelo::dict {

// PreRe and PostRe are pattern entries: a regular expression over characters and its
// replacement, where the others match bytes literally.
enum class Kind : uint8_t { Pre, Name, Post, Line, PreRe, PostRe };
inline constexpr Kind kKinds[] = {Kind::Pre,  Kind::Name,  Kind::Post,
                                  Kind::Line, Kind::PreRe, Kind::PostRe};

// One value per kind, reached by the kind itself.
template <class T>
class ByKind {
  public:
    T& operator[](Kind kind) { return slots_[static_cast<size_t>(kind)]; }
    const T& operator[](Kind kind) const { return slots_[static_cast<size_t>(kind)]; }

  private:
    T slots_[std::size(kKinds)] = {};
};

// Converts UTF-8 to a code page's bytes; false when some character has no form there.
using Encoder = std::function<bool(std::string_view utf8, std::string& out)>;

// Converts a code page's bytes to UTF-8; false when some bytes are no character there.
using Decoder = std::function<bool(std::string_view bytes, std::string& utf8)>;

// Pattern entries need the decoders as well: a dictionary holds on to a copy of them.
struct TextEncoders {
    Encoder toShiftJis;  // code page 932
    Encoder toCp949;     // code page 949
    Decoder fromShiftJis = {};
    Decoder fromCp949 = {};
};

// One dictionary file: its name (as problems and traces show it) and its whole contents.
struct SourceFile {
    std::string name;
    std::string_view bytes;
};

// What a problem is, so that a program can word it in its user's language; `args` of the
// Problem fill in the details, in the order given here. `reason` is always the English text.
enum class ProblemKind : uint8_t {
    kOther,            // only `reason`
    kColumns,          // {0}: the number of columns found
    kUnknownKind,      // {0}: the kind as written
    kEmptyFrom,        //
    kEmptyNameTo,      //
    kNoConversion,     // {0}: FROM or TO, {1}: the code page
    kNoForm,           // {0}: FROM or TO, {1}: "U+2665 (♥)", {2}: the code page
    kNotWritable,      // {0}: FROM or TO, {1}: the code page
    kTooLong,          // {0}: FROM or TO, {1}: bytes, {2}: the code page
    kNotUtf8,          //
    kNul,              //
    kTooManyNames,     //
    kLineEscape,       // {0}: the escape as written, \n or \r
    kLineRepeated,     // {0}: the file, {1}: the line of the entry used instead
    kFileTooLarge,     // file-level
    kFileUtf16,        // file-level: saved as UTF-16
    kFileCp949,        // file-level: saved in CP949
    kFileShiftJis,     // file-level: saved in Shift-JIS
    kCannotOpen,       // file-level; {0}: the system's error code
    kCannotRead,       // file-level; {0}: the system's error code
    kPatternSyntax,    // {0}: the character where the pattern fails, from 1, {1}: why (English)
    kPatternTooLong,   // {0}: its characters
    kPatternGroup,     // {0}: the group as written ($3), {1}: the groups the pattern has
    kTooManyPatterns,  //
};

// A line that was skipped, or a file skipped whole (line 0).
struct Problem {
    std::string file;
    int line = 0;
    std::string reason;
    ProblemKind kind = ProblemKind::kOther;
    std::vector<std::string> args;
};

// Where an entry came from, for traces.
struct EntryInfo {
    Kind kind;
    std::string file;
    int line = 0;
    std::string from;  // UTF-8, as written
    std::string to;    // UTF-8, as written
};

enum class FiringKind : uint8_t {
    kApplied,
    // A pattern entry left out for this line: its searches ran past its own budget, or its
    // replacements would have made the line longer than allowed, or the entries before it
    // had used up the line's budget.
    kOverBudget,
    kTooLong,
    kLineOverBudget,
};

// An entry that took effect in a pass, or a pattern entry left out: an index for
// Dictionary::Info.
struct Firing {
    uint32_t entry;
    FiringKind what = FiringKind::kApplied;
    // A pattern entry's matches and what replaced each, UTF-8, in pairs (the first few).
    std::vector<std::string> replaced = {};
};

inline constexpr size_t kMaxFileBytes = size_t{16} << 20;
inline constexpr size_t kMaxSideBytes = 1024;
// Name markers hold five digits, so at most this many names are in use.
inline constexpr size_t kMaxNames = 100000;
// Pattern entries: characters of a pattern, and entries of both kinds together.
inline constexpr size_t kMaxPatternChars = 1024;
inline constexpr size_t kMaxPatterns = 1000;
// Steps a pattern entry may take on one text, all its searches together, before it is left
// out for that text; and steps all the entries of one pass may take on one text together,
// past which the entries still to search are left out. A step is the matcher reading,
// advancing or backing up by one character: a line costs at most the line's budget, tens of
// milliseconds, whatever its entries and their patterns.
inline constexpr size_t kPatternEntrySteps = 250000;
inline constexpr size_t kPatternLineSteps = 1000000;
// A pattern entry may make a line at most twice as long as the pass got it, plus this many
// characters.
inline constexpr size_t kPatternGrowthChars = 256;

struct CompileOptions {
    // Keep each entry's file, line and texts as written, for Dictionary::Info; a dictionary
    // that is only applied does without, which saves about a third of its memory.
    bool keepOrigins = true;
    // Looked at every few thousand lines and between the steps of the build; once true,
    // Compile gives up.
    const std::atomic<bool>* stop = nullptr;
};

// "pre", "name", "post", "line", "pre-re" or "post-re", as written in the files.
const char* KindName(Kind kind);

// A compiled dictionary; immutable once built, so one thread may apply it while another
// builds its successor.
class Dictionary {
  public:
    // Files are taken in the order given (the caller sorts them by name); for the same FROM
    // within a kind the entry read last wins. Problems, when asked for, are appended.
    // Null only when memory runs out or the options' `stop` turned true.
    static std::unique_ptr<Dictionary> Compile(std::span<const SourceFile> files,
                                               const TextEncoders& encoders,
                                               std::vector<Problem>* problems = nullptr,
                                               const CompileOptions& options = {});
    virtual ~Dictionary() = default;

    virtual size_t Count(Kind kind) const = 0;
    bool Empty() const {
        size_t all = 0;
        for (Kind kind : kKinds) all += Count(kind);
        return all == 0;
    }
    // Entries in use are numbered from 0 to the sum of the counts, less one: `pre`
    // entries, then names, then `post`, then `line`, each kind in the byte order of its
    // encoded FROM; then `pre-re` and `post-re`, each in reading order. Of the same pattern
    // given twice in a kind, the one read last is used, in its own place.
    // Made on request (traces are rare); an unknown number gives an empty `pre`, and a
    // dictionary compiled without origins answers only the kind.
    virtual EntryInfo Info(uint32_t entry) const = 0;

    // Each pass reads the NUL-terminated `src` and writes the result, NUL-terminated, into
    // `dst` of `cap` bytes. It returns the result's full length (terminator not counted);
    // a result that does not fit is cut to a prefix (cap > 0), so a caller that sees a
    // length >= cap grows `dst` and runs the pass again. Null `src` is the empty text; null
    // `dst` or `cap` 0 writes nothing and still answers the length. Characters are those of
    // the text's own encoding (Shift-JIS lead bytes 0x81-0x9F and 0xE0-0xFC, CP949 lead bytes
    // 0x81-0xFE, each followed by a non-zero byte); a match starts and ends between two of
    // them, the longest FROM starting at a character wins, and replaced text is not scanned
    // again. Never throws, never allocates except to append to `fired`.
    // Entries that took effect are appended to `fired` when it is not null.

    // Shift-JIS source: `pre` replacements.
    virtual size_t ApplyPre(const char* src, char* dst, size_t cap,
                            std::vector<Firing>* fired = nullptr) const = 0;
    // Shift-JIS source: each `name` FROM becomes a name marker the engine carries through.
    virtual size_t ProtectNames(const char* src, char* dst, size_t cap,
                                std::vector<Firing>* fired = nullptr) const = 0;
    // CP949 translation: each name marker becomes its TO, and the particle right after it
    // (은/는 이/가 을/를 과/와 이나/나 이랑/랑 으로/로, followed by a non-Hangul character or
    // the end) is made to agree with TO's last syllable. Markers of unknown names stay.
    virtual size_t RestoreNames(const char* src, char* dst, size_t cap,
                                std::vector<Firing>* fired = nullptr) const = 0;
    // CP949 translation: `post` replacements.
    virtual size_t ApplyPost(const char* src, char* dst, size_t cap,
                             std::vector<Firing>* fired = nullptr) const = 0;

    // Pattern passes, on the characters of the text's code page: each entry in turn, each
    // over the whole text once, replacing its matches left to right. Text that no match
    // covers keeps its bytes. A text that does not decode as one character per byte
    // sequence is left as it is. An entry whose searches on this text run past
    // kPatternEntrySteps, that would run past what is left of kPatternLineSteps, or whose
    // result would be too long, is left out for this text and recorded in `fired` as such.
    // Unlike the literal passes these allocate; they never throw, and when memory runs out
    // the text is left as it is.

    // Shift-JIS source: `pre-re` replacements, before the `pre` ones.
    virtual size_t ApplyPreRe(const char* src, char* dst, size_t cap,
                              std::vector<Firing>* fired = nullptr) const = 0;
    // CP949 translation: `post-re` replacements, after the `post` ones.
    virtual size_t ApplyPostRe(const char* src, char* dst, size_t cap,
                               std::vector<Firing>* fired = nullptr) const = 0;
    // The pass of `kind` (PreRe or PostRe), adding the steps its searches took to `steps`.
    virtual size_t ApplyPatterns(Kind kind, const char* src, char* dst, size_t cap,
                                 std::vector<Firing>* fired, size_t& steps) const = 0;

    // Shift-JIS source: true when a `line` entry answers it whole, with `to` its CP949 TO
    // (valid while the dictionary lives). Both the source and the entry's FROM are taken
    // without their trailing spaces, tabs, CRs and LFs; everything else counts, leading
    // spaces and U+3000 included. Never throws, never allocates except to append to `fired`.
    virtual bool FindLine(std::string_view source, std::string_view& to,
                          std::vector<Firing>* fired = nullptr) const = 0;
};

// The CRs and LFs that end `source`, which a `line` answer keeps after its TO.
std::string_view LineEnding(std::string_view source);

// Dictionary::Compile with the files handed in one at a time, so that a caller reading them
// from disk holds only one at once: a file's bytes are not needed after Add. Never throws.
class Compiler {
  public:
    explicit Compiler(const TextEncoders& encoders, std::vector<Problem>* problems = nullptr,
                      const CompileOptions& options = {});
    ~Compiler();
    Compiler(const Compiler&) = delete;
    Compiler& operator=(const Compiler&) = delete;

    // Reads the file's lines. False when memory ran out or `stop` turned true; then the
    // compilation is over and Finish answers null.
    bool Add(const SourceFile& file);
    // The dictionary of the files added, in the order added; null as Compile. Once only.
    std::unique_ptr<Dictionary> Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// One of the passes, for callers that run them in turn.
using Pass = size_t (Dictionary::*)(const char*, char*, size_t, std::vector<Firing>*) const;

// Runs `pass` on `text` into `buffer`, grown to fit the whole result, and returns the
// result (NUL-terminated, inside `buffer`). Firings, when asked for, are appended once.
// Throws std::bad_alloc when the buffer cannot grow.
const char* RunPass(const Dictionary& dictionary, Pass pass, const char* text, std::string& buffer,
                    std::vector<Firing>* fired = nullptr);

}  // namespace mirelo::dict

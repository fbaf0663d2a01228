// The only user of Boost.Regex: its limits are set here, before it is included.
// Without the rest of Boost, whose configuration of MinGW's win32 thread model (no
// std::mutex) would fall back to the old version that needs a compiled library.
#define BOOST_REGEX_STANDALONE
// A search gives up after this many of the matcher's own states whatever the line and the
// pattern (see Cursor): a backstop to the steps Cursor counts across searches.
#define BOOST_REGEX_MAX_STATE_COUNT 250000
// No process-wide cache of matching memory, which a DLL would keep until it is unloaded.
#define BOOST_REGEX_MAX_CACHE_BLOCKS 0
// At most this many 4 KiB blocks of backtracking memory per search.
#define BOOST_REGEX_MAX_BLOCKS 256

#include "patterns.h"

#include <boost/regex.hpp>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>

#include "multibyte.h"
#include "utf8.h"

namespace mirelo::dict::rx {
namespace {

static_assert(BOOST_REGEX_MAX_STATE_COUNT == kPatternEntrySteps);
static_assert(kPatternEntrySteps <= kPatternLineSteps);

// Character classes and case by fixed rules, with no locale behind them, so that a pattern
// means the same on every system: \d and [[:digit:]] take full-width digits as well, \w
// takes kana, kanji and Hangul, \p{L} every letter, \p{Han} and the like one script,
// (?i) folds ASCII and full-width Latin letters.
class CharTraits {
  public:
    using char_type = char32_t;
    using size_type = std::size_t;
    using string_type = std::u32string;
    using locale_type = int;
    using char_class_type = uint32_t;

    enum : uint32_t {
        kDigit = 1,
        kLower = 2,
        kUpper = 4,
        kOtherLetter = 8,  // letters without case of no script below: Latin, Greek, Cyrillic
        kSpace = 16,
        kPunct = 32,
        kCntrl = 64,
        kXDigit = 128,
        kBlank = 256,
        kUnderscore = 512,
        kVertical = 1024,
        kHiragana = 2048,
        kKatakana = 4096,
        kHan = 8192,
        kHangul = 16384,
        kLetter = kLower | kUpper | kOtherLetter | kHiragana | kKatakana | kHan | kHangul,
        kWord = kDigit | kLetter | kUnderscore,
    };

    static size_type length(const char_type* p) { return std::char_traits<char32_t>::length(p); }
    char_type translate(char_type c) const { return c; }
    char_type translate_nocase(char_type c) const { return Fold(c); }
    template <class It>
    string_type transform(It first, It last) const {
        return string_type(first, last);
    }
    template <class It>
    string_type transform_primary(It first, It last) const {
        string_type s;
        for (; first != last; ++first) s.push_back(Fold(*first));
        return s;
    }
    // A name of one letter is an escape (\d, \D) or a property (\pL, \p{L}), and keeps its
    // case: \p{L} is every letter where \l is a lower-case one. Longer names are POSIX
    // classes ([[:digit:]]) or properties (\p{Han}), in any case.
    template <class It>
    char_class_type lookup_classname(It first, It last) const {
        std::string name;
        for (; first != last; ++first) {
            const char32_t c = *first;
            if (c >= 0x80) return 0;
            name.push_back(static_cast<char>(c));
        }
        static const struct {
            const char* name;
            uint32_t mask;
        } kLetters[] = {
            {"d", kDigit},    {"D", kDigit},    {"w", kWord},  {"W", kWord},
            {"s", kSpace},    {"S", kSpace},    {"h", kBlank}, {"H", kBlank},
            {"v", kVertical}, {"V", kVertical}, {"l", kLower}, {"u", kUpper},
            {"U", kUpper},    {"L", kLetter},   {"N", kDigit}, {"P", kPunct | kUnderscore},
        };
        static const struct {
            const char* name;
            uint32_t mask;
        } kNames[] = {
            {"alnum", kDigit | kLetter},
            {"alpha", kLetter},
            {"blank", kBlank},
            {"cntrl", kCntrl},
            {"digit", kDigit},
            {"graph", kDigit | kLetter | kPunct | kUnderscore},
            {"han", kHan},
            {"hangul", kHangul},
            {"hiragana", kHiragana},
            {"katakana", kKatakana},
            {"letter", kLetter},
            {"ll", kLower},
            {"lower", kLower},
            {"lu", kUpper},
            {"nd", kDigit},
            {"print", kDigit | kLetter | kPunct | kUnderscore | kBlank},
            {"punct", kPunct | kUnderscore},
            {"space", kSpace},
            {"upper", kUpper},
            {"word", kWord},
            {"xdigit", kXDigit},
        };
        if (name.size() == 1) {
            for (const auto& c : kLetters)
                if (name == c.name) return c.mask;
            return 0;
        }
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        for (const auto& c : kNames)
            if (name == c.name) return c.mask;
        return 0;
    }
    template <class It>
    string_type lookup_collatename(It first, It last) const {
        // Only a single character names itself.
        if (first == last || std::next(first) != last) return {};
        return string_type(1, *first);
    }
    bool isctype(char_type c, char_class_type mask) const { return (Classes(c) & mask) != 0; }
    int value(char_type c, int radix) const {
        int v = -1;
        if (c >= '0' && c <= '9')
            v = static_cast<int>(c - '0');
        else if (c >= 'a' && c <= 'z')
            v = static_cast<int>(c - 'a') + 10;
        else if (c >= 'A' && c <= 'Z')
            v = static_cast<int>(c - 'A') + 10;
        return v < radix ? v : -1;
    }
    locale_type imbue(locale_type l) { return l; }
    locale_type getloc() const { return 0; }

  private:
    static char32_t Fold(char32_t c) {
        if ((c >= 'A' && c <= 'Z') || (c >= 0xFF21 && c <= 0xFF3A)) return c + 0x20;
        return c;
    }
    static uint32_t Classes(char32_t c) {
        if (c < 0x80) {
            if (c >= '0' && c <= '9') return kDigit | kXDigit;
            if (c >= 'a' && c <= 'z') return c <= 'f' ? kLower | kXDigit : kLower;
            if (c >= 'A' && c <= 'Z') return c <= 'F' ? kUpper | kXDigit : kUpper;
            if (c == ' ' || c == '\t') return kSpace | kBlank;
            if (c >= '\n' && c <= '\r') return kSpace | kVertical | kCntrl;
            if (c == '_') return kUnderscore;
            if (c < 0x20 || c == 0x7F) return kCntrl;
            return kPunct;
        }
        if (c == 0x3000 || c == 0xA0) return kSpace | kBlank;
        if (c == 0x85 || c == 0x2028 || c == 0x2029) return kSpace | kVertical;
        if (c >= 0xFF10 && c <= 0xFF19) return kDigit;
        if (c >= 0xFF41 && c <= 0xFF5A) return kLower;
        if (c >= 0xFF21 && c <= 0xFF3A) return kUpper;
        if ((c >= 0x3041 && c <= 0x3096) || (c >= 0x309D && c <= 0x309F)) return kHiragana;
        if ((c >= 0x30A1 && c <= 0x30FA) || (c >= 0x30FC && c <= 0x30FF) ||
            (c >= 0x31F0 && c <= 0x31FF) || (c >= 0xFF66 && c <= 0xFF9F))  // half-width
            return kKatakana;
        if ((c >= 0x3005 && c <= 0x3007) ||                                  // 々 〆 〇
            (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||  //
            (c >= 0xF900 && c <= 0xFAFF))
            return kHan;
        if ((c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) ||
            (c >= 0x3131 && c <= 0x318E) || (c >= 0xFFA0 && c <= 0xFFDC))
            return kHangul;
        if ((c >= 0x00C0 && c <= 0x024F && c != 0xD7 && c != 0xF7) ||      // Latin letters
            (c >= 0x0391 && c <= 0x03C9) || (c >= 0x0401 && c <= 0x0451))  // Greek, Cyrillic
            return kOtherLetter;
        if ((c >= 0x3001 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF65) ||
            (c >= 0x2010 && c <= 0x2027) || (c >= 0x2030 && c <= 0x205E) ||
            (c >= 0xA1 && c <= 0xBF) || c == 0x30FB)
            return kPunct;
        if (c < 0xA0) return kCntrl;
        return 0;
    }
};

// Steps left to an entry on a line. Past them the search in progress is abandoned by an
// exception the matcher passes on, once: while it unwinds its own state, steps are free.
class Meter {
  public:
    explicit Meter(size_t steps) : left_(steps) {}
    void Step() {
        if (left_-- == 0) Trip();
    }
    bool Tripped() const { return tripped_; }
    // Steps taken, of `allowed`.
    size_t Used(size_t allowed) const { return tripped_ ? allowed : allowed - left_; }

  private:
    [[noreturn]] void Trip();
    size_t left_;
    bool tripped_ = false;
};

struct OutOfSteps {};

void Meter::Trip() {
    tripped_ = true;
    left_ = SIZE_MAX;
    throw OutOfSteps();
}

// A pointer that counts each character it reads and each step it takes, so that the steps
// of all the searches of an entry on a line add up. It calls itself bidirectional, which
// makes the matcher give every search the same budget of its own states: for a
// random-access iterator it would scale that with the line's length and the square of the
// pattern's size.
class Cursor {
  public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = char32_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const char32_t*;
    using reference = const char32_t&;

    Cursor() = default;
    Cursor(const char32_t* p, Meter* meter) : p_(p), meter_(meter) {}
    reference operator*() const {
        meter_->Step();
        return *p_;
    }
    pointer operator->() const { return &**this; }
    Cursor& operator++() {
        meter_->Step();
        ++p_;
        return *this;
    }
    Cursor operator++(int) {
        Cursor was = *this;
        ++*this;
        return was;
    }
    Cursor& operator--() {
        meter_->Step();
        --p_;
        return *this;
    }
    Cursor operator--(int) {
        Cursor was = *this;
        --*this;
        return was;
    }
    bool operator==(const Cursor& other) const { return p_ == other.p_; }
    const char32_t* get() const { return p_; }

  private:
    const char32_t* p_ = nullptr;
    Meter* meter_ = nullptr;
};

using Regex = boost::basic_regex<char32_t, CharTraits>;
using Matches = boost::match_results<Cursor>;

// Perl's defaults: ^ and $ at the ends of the text, . not across a line break.
constexpr auto kSyntax = boost::regex_constants::perl | boost::regex_constants::no_mod_m |
                         boost::regex_constants::no_mod_s;

// Pairs of matches and replacements a trace is given.
constexpr size_t kTracedMatches = 8;

char32_t NextUtf8(std::string_view s, size_t& i) {
    const auto lead = static_cast<uint8_t>(s[i]);
    const size_t length = std::min(text::Utf8SequenceLength(lead), s.size() - i);
    char32_t c = lead >= 0xF0   ? lead & 0x07
                 : lead >= 0xE0 ? lead & 0x0F
                 : lead >= 0xC0 ? lead & 0x1F
                                : lead;
    for (size_t k = 1; k < length; ++k) c = c << 6 | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    i += length;
    return c;
}

std::u32string DecodeUtf8(std::string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) out.push_back(NextUtf8(s, i));
    return out;
}

// `c` as a line of the code page holds it once written there: 〜 (U+301C) is written 0x8160
// in Shift-JIS, which reads back as ～ (U+FF5E). False when it has no form there.
bool AsWritten(char32_t c, const Encoder& encode, const Decoder& decode, std::string& bytes,
               char32_t& read) {
    bytes.clear();
    std::string back;
    if (!encode(Utf8Of(std::u32string_view(&c, 1)), bytes) || bytes.empty() ||
        bytes.find('\0') != std::string::npos || !decode(bytes, back) || !text::IsUtf8(back) ||
        back.empty())
        return false;
    size_t i = 0;
    read = NextUtf8(back, i);
    return i == back.size();
}

// What replaces a match: characters of its own, and groups of the match.
struct Piece {
    int group;  // -1: characters [from, to) of the literals; 0: the whole match
    uint32_t from, to;
};

// Text every match holds, when the pattern says so plainly: the longest run of literals
// outside any group or class, none optional, in a pattern with no alternative and no flags
// or look-arounds. Empty when there is none. Boost tries every Japanese or Korean character
// as a start, so a line without this text is passed over without a search.
std::u32string RequiredText(std::u32string_view p) {
    if (p.find(U"(?") != std::u32string_view::npos) return {};
    const auto alnum = [](char32_t c) {
        return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
    };
    std::u32string best, run;
    const auto endRun = [&] {
        if (run.size() > best.size()) best = run;
        run.clear();
    };
    int depth = 0;
    for (size_t i = 0; i < p.size();) {
        char32_t c = p[i++];
        bool literal = false;
        if (c == U'\\') {
            if (i >= p.size()) return {};
            c = p[i++];
            literal = !alnum(c);
            if (c == U'Q') return {};
            // What an escape takes along: {…}, <…>, a character, or digits.
            if (!literal && i < p.size()) {
                const char32_t close = p[i] == U'{' ? U'}' : p[i] == U'<' ? U'>' : 0;
                if (close != 0) {
                    while (i < p.size() && p[i] != close) ++i;
                    ++i;
                } else if (c == U'c' || c == U'p' || c == U'P') {
                    ++i;  // \cX, \pL
                } else if (c == U'g') {
                    while (i < p.size() && (p[i] == U'-' || (p[i] >= U'0' && p[i] <= U'9'))) ++i;
                } else {
                    while (i < p.size() && alnum(p[i]) && (c == U'x' || (c >= U'0' && c <= U'9')))
                        ++i;
                }
            }
        } else if (c == U'|') {
            return {};
        } else if (c == U'[') {
            // To the closing bracket; one right after [ or [^ belongs to the class, and so
            // do the brackets of [:digit:], [=a=] and [.a.] inside it.
            if (i < p.size() && p[i] == U'^') ++i;
            if (i < p.size() && p[i] == U']') ++i;
            while (i < p.size() && p[i] != U']') {
                const char32_t mark = i + 1 < p.size() && p[i] == U'[' ? p[i + 1] : 0;
                if (mark == U':' || mark == U'=' || mark == U'.') {
                    const size_t close = p.find(std::u32string{mark, U']'}, i + 2);
                    if (close == std::u32string_view::npos) return {};
                    i = close + 2;
                } else {
                    i += p[i] == U'\\' ? 2 : 1;
                }
            }
            ++i;
        } else if (c == U'{') {
            // A repeat's bounds.
            while (i < p.size() && p[i] != U'}') ++i;
            ++i;
        } else if (c == U'(') {
            ++depth;
        } else if (c == U')') {
            --depth;
        } else {
            literal = std::u32string_view(U"^$.?*+}").find(c) == std::u32string_view::npos;
        }
        if (!literal || depth != 0) {
            endRun();
            continue;
        }
        // At least once, or perhaps not at all; a repeat's sign that follows ends the run.
        size_t least = 1;
        if (i < p.size() && (p[i] == U'?' || p[i] == U'*')) {
            least = 0;
        } else if (i < p.size() && p[i] == U'{') {
            least = 0;
            for (size_t k = i + 1; k < p.size() && p[k] >= U'0' && p[k] <= U'9'; ++k)
                least = std::min<size_t>(least * 10 + (p[k] - U'0'), 1000);
        }
        if (least == 0) {
            endRun();
            continue;
        }
        run.push_back(c);
    }
    endRun();
    return best;
}

class CompiledPattern final : public Pattern {
  public:
    CompiledPattern(Regex regex, std::vector<Piece> pieces, CharLine literals,
                    std::u32string required)
        : regex_(std::move(regex)),
          pieces_(std::move(pieces)),
          literals_(std::move(literals)),
          required_(std::move(required)) {}

    PatternResult Apply(const CharLine& line, CharLine& out, size_t maxChars,
                        std::vector<std::string>* trace, size_t& steps) const override;

  private:
    PatternResult Search(const CharLine& line, CharLine& out, size_t maxChars,
                         std::vector<std::string>* trace, Meter& meter) const;

    Regex regex_;
    std::vector<Piece> pieces_;
    CharLine literals_;
    std::u32string required_;
};

PatternResult CompiledPattern::Apply(const CharLine& line, CharLine& out, size_t maxChars,
                                     std::vector<std::string>* trace, size_t& steps) const {
    const size_t allowed = steps;
    steps = 0;
    if (!required_.empty() && line.chars.find(required_) == std::u32string::npos)
        return PatternResult::kNoMatch;
    Meter meter(allowed);
    const PatternResult r = Search(line, out, maxChars, trace, meter);
    steps = meter.Used(allowed);
    return r;
}

PatternResult CompiledPattern::Search(const CharLine& line, CharLine& out, size_t maxChars,
                                      std::vector<std::string>* trace, Meter& meter) const {
    const char32_t* base = line.chars.data();
    const Cursor first(base, &meter), last(base + line.chars.size(), &meter);
    size_t copied = 0;
    bool any = false;
    try {
        // As boost::regex_iterator steps, without its allocations: after an empty match the
        // next may not be empty where it starts.
        Matches m;
        auto flags = boost::regex_constants::match_default;
        for (Cursor start = first; boost::regex_search(start, last, m, regex_, flags, first);) {
            start = m[0].second;
            flags = m[0].first == m[0].second ? boost::regex_constants::match_not_initial_null
                                              : boost::regex_constants::match_default;
            if (!any) out.Clear();
            any = true;
            const auto at = static_cast<size_t>(m[0].first.get() - base);
            const auto past = static_cast<size_t>(m[0].second.get() - base);
            out.AppendRange(line, copied, at);
            const size_t replacedFrom = out.chars.size();
            for (const Piece& p : pieces_) {
                if (p.group < 0) {
                    out.AppendRange(literals_, p.from, p.to);
                } else if (m[p.group].matched) {
                    out.AppendRange(line, static_cast<size_t>(m[p.group].first.get() - base),
                                    static_cast<size_t>(m[p.group].second.get() - base));
                }
            }
            if (out.chars.size() + (line.chars.size() - past) > maxChars)
                return PatternResult::kTooLong;
            if (trace != nullptr && trace->size() < 2 * kTracedMatches) {
                trace->push_back(Utf8Of(std::u32string_view(line.chars).substr(at, past - at)));
                trace->push_back(Utf8Of(std::u32string_view(out.chars).substr(replacedFrom)));
            }
            copied = past;
        }
    } catch (const OutOfSteps&) {
        return PatternResult::kOverBudget;
    } catch (const std::runtime_error&) {
        // Boost's regex_error: too many states in one search, or too much memory for
        // backtracking.
        return PatternResult::kOverBudget;
    }
    if (!any) return PatternResult::kNoMatch;
    out.AppendRange(line, copied, line.chars.size());
    return PatternResult::kReplaced;
}

}  // namespace

void CharLine::AppendRange(const CharLine& other, size_t from, size_t to) {
    if (from >= to) return;
    const uint32_t shift = static_cast<uint32_t>(bytes.size()) - other.starts[from];
    chars.append(other.chars, from, to - from);
    bytes.append(other.Bytes(from, to));
    for (size_t k = from + 1; k <= to; ++k) starts.push_back(other.starts[k] + shift);
}

bool SplitLine(const char* src, bool shiftJis, const Decoder& decode, CharLine& line) {
    line.Clear();
    if (src == nullptr || *src == 0) return true;
    const std::string_view bytes(src);
    std::string utf8;
    if (!decode || !decode(bytes, utf8) || !text::IsUtf8(utf8)) return false;
    const auto* s = reinterpret_cast<const uint8_t*>(src);
    size_t u = 0;
    for (size_t i = 0; i < bytes.size();) {
        const size_t length =
            shiftJis ? text::ShiftJisCharLength(s + i) : text::Cp949CharLength(s + i);
        if (u >= utf8.size()) return false;
        const char32_t c = NextUtf8(utf8, u);
        // Each character must have decoded to one: ASCII to itself, the rest to non-ASCII.
        if (length == 1 && s[i] < 0x80 ? c != s[i] : c < 0x80) return false;
        line.Append(c, bytes.substr(i, length));
        i += length;
    }
    return u == utf8.size();
}

std::string Utf8Of(std::u32string_view chars) {
    std::string out;
    for (const char32_t c : chars) text::AppendUtf8(out, c);
    return out;
}

std::unique_ptr<Pattern> Pattern::Compile(std::string_view pattern, std::string_view replacement,
                                          const Encoder& encode, const Decoder& decode,
                                          PatternFault& why) {
    std::u32string written = DecodeUtf8(pattern);
    if (written.size() > kMaxPatternChars) {
        why = {PatternFault::kTooLong, written.size(), {}};
        return nullptr;
    }
    std::string bytes;
    for (char32_t& c : written) {
        if (c < 0x80) continue;
        if (!AsWritten(c, encode, decode, bytes, c)) {
            why = {PatternFault::kNoForm, 0, Utf8Of(std::u32string_view(&c, 1))};
            return nullptr;
        }
    }
    Regex regex;
    try {
        regex.assign(written.data(), written.data() + written.size(), kSyntax);
    } catch (const boost::regex_error& e) {
        why = {PatternFault::kSyntax,
               static_cast<size_t>(std::max<std::ptrdiff_t>(e.position(), 0)) + 1,
               boost::BOOST_REGEX_DETAIL_NS::get_default_error_string(e.code())};
        return nullptr;
    }

    // $1 to $9 and $& are the match's, $$ is a dollar sign; any other $ is itself.
    std::vector<Piece> pieces;
    CharLine literals;
    const size_t groups = regex.mark_count();  // $0 not counted
    const auto literal = [&](char32_t c) {
        char32_t read = c;
        if (c < 0x80) {
            bytes.assign(1, static_cast<char>(c));
        } else if (!AsWritten(c, encode, decode, bytes, read)) {
            why = {PatternFault::kNoForm, 1, Utf8Of(std::u32string_view(&c, 1))};
            return false;
        }
        if (pieces.empty() || pieces.back().group >= 0)
            pieces.push_back({-1, static_cast<uint32_t>(literals.chars.size()), 0});
        literals.Append(read, bytes);
        pieces.back().to = static_cast<uint32_t>(literals.chars.size());
        return true;
    };
    for (size_t i = 0; i < replacement.size();) {
        const size_t at = i;
        const char32_t c = NextUtf8(replacement, i);
        if (c == '$' && i < replacement.size()) {
            const char next = replacement[i];
            if (next >= '1' && next <= '9') {
                const int group = next - '0';
                if (static_cast<size_t>(group) > groups) {
                    why = {PatternFault::kGroup, groups, std::string(replacement.substr(at, 2))};
                    return nullptr;
                }
                pieces.push_back({group, 0, 0});
                ++i;
                continue;
            }
            if (next == '&') {
                pieces.push_back({0, 0, 0});
                ++i;
                continue;
            }
            if (next == '$') ++i;
        }
        if (!literal(c)) return nullptr;
    }
    if (literals.bytes.size() > kMaxSideBytes) {
        why = {PatternFault::kReplacementTooLong, literals.bytes.size(), {}};
        return nullptr;
    }
    return std::make_unique<CompiledPattern>(std::move(regex), std::move(pieces),
                                             std::move(literals), RequiredText(written));
}

}  // namespace mirelo::dict::rx

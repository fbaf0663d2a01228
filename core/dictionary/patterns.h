// Pattern entries: a regular expression over characters and its replacement, applied to a
// line held as characters that each keep their own code page bytes, so that text no pattern
// touches leaves with the bytes it came with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary.h"

namespace mirelo::dict::rx {

// A line as characters, each with its bytes: character k is bytes[starts[k], starts[k+1]).
struct CharLine {
    std::u32string chars;
    std::string bytes;
    std::vector<uint32_t> starts{0};

    void Clear() {
        chars.clear();
        bytes.clear();
        starts.assign(1, 0);
    }
    void Append(char32_t c, std::string_view b) {
        chars.push_back(c);
        bytes.append(b);
        starts.push_back(static_cast<uint32_t>(bytes.size()));
    }
    // Characters [from, to) of `other`.
    void AppendRange(const CharLine& other, size_t from, size_t to);
    std::string_view Bytes(size_t from, size_t to) const {
        return std::string_view(bytes).substr(starts[from], starts[to] - starts[from]);
    }
};

// Splits NUL-terminated `src` into characters of its code page (`shiftJis` or CP949), with
// `decode` naming each; false when the bytes do not decode one character each.
bool SplitLine(const char* src, bool shiftJis, const Decoder& decode, CharLine& line);

// The written text of a CharLine range, for traces.
std::string Utf8Of(std::u32string_view chars);

// Why a pattern entry cannot be used.
struct PatternFault {
    enum What : uint8_t {
        kTooLong,             // number: its characters
        kSyntax,              // number: the character where it fails, from 1; text: why
        kGroup,               // number: the groups there are; text: the group as written
        kNoForm,              // text: the character without a form; number: 0 FROM, 1 TO
        kReplacementTooLong,  // number: its encoded bytes
    } what;
    size_t number = 0;
    std::string text;
};

enum class PatternResult : uint8_t { kNoMatch, kReplaced, kOverBudget, kTooLong };

class Pattern {
  public:
    // Compiles `pattern` and `replacement` (UTF-8) for lines of the code page of `encode`
    // and `decode`: each character is taken as that code page writes and reads it back, and
    // the replacement's own characters are encoded once, here. Null with `why` filled when
    // either is unusable. Throws std::bad_alloc.
    static std::unique_ptr<Pattern> Compile(std::string_view pattern, std::string_view replacement,
                                            const Encoder& encode, const Decoder& decode,
                                            PatternFault& why);
    virtual ~Pattern() = default;

    // Replaces every match in `line`, left to right, into `out`; `out` is untouched unless
    // kReplaced. The result may hold at most `maxChars` characters. Its searches together
    // may take `steps` steps (kOverBudget past that); `steps` learns how many they took. A
    // line without the text every match must hold is passed over without a step. With
    // `trace`, each match and what replaced it go there as UTF-8 pairs. Throws
    // std::bad_alloc.
    virtual PatternResult Apply(const CharLine& line, CharLine& out, size_t maxChars,
                                std::vector<std::string>* trace, size_t& steps) const = 0;
};

}  // namespace mirelo::dict::rx

// Code-page conversions and line reading for mirelo-host and mirelo-server.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "program_text.h"

namespace programs {

// Characters the target code page lacks become '?'; *lossy tells whether any did.
std::string Utf8ToShiftJis(const std::string& utf8, bool* lossy = nullptr);
std::string Cp949ToUtf8(const std::string& cp949);
std::string ShiftJisToUtf8(const std::string& sjis);

// A stretch of a line: Shift-JIS text for the plug-in, or UTF-8 that Shift-JIS cannot carry
// (an emoji, a NUL), to be kept as it is.
struct TextRun {
    bool keep = false;
    std::string text;  // keep: the UTF-8 as given; otherwise Shift-JIS
};

// Cuts valid UTF-8 into runs, alternating between the two kinds. A character counts as
// carried only when it comes back unchanged from Shift-JIS, so no best-fit look-alike
// stands in for it.
std::vector<TextRun> SplitByShiftJis(const std::string& utf8);

// Reads '\n'-terminated lines from a binary stream, dropping one trailing CR per line.
// A last line without '\n' still counts; an empty stream has no lines. `end`, when given,
// gets what ended the line: "\r\n", "\n", or nothing for a last line without one.
class LineReader {
  public:
    explicit LineReader(std::FILE* f) : m_file(f) {}
    bool Next(std::string& line, std::string* end = nullptr);

  private:
    std::FILE* m_file;
};

// A line and what ended it, as LineReader and programs::SplitLines give them.
using InputLine = programs::TextLine<char>;

// Well-formed Shift-JIS whose every character code page 932 holds.
bool IsShiftJis(std::string_view bytes);

// What a whole input is when the user did not say: UTF-8 (a UTF-8 byte order mark, or valid
// UTF-8 throughout), else Shift-JIS (valid throughout), else why neither, with the line
// (from 1) that shows it.
struct InputVerdict {
    enum Kind {
        kUtf8,
        kShiftJis,
        kUtf16,        // no line: the whole input is
        kMarkNotUtf8,  // a UTF-8 byte order mark, and a line that is not UTF-8
        kNeither,      // a line that is neither
        kMixed,        // every line is one or the other, but a Shift-JIS line among UTF-8
    } kind = kUtf8;
    unsigned long line = 0;
};
InputVerdict DecideInputEncoding(std::string_view whole);

}  // namespace programs

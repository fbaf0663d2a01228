// Code-page conversions and line reading for mirelo-host and mirelo-server.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace host {

// Characters the target code page lacks become '?'; *lossy tells whether any did.
std::string Utf8ToShiftJis(const std::string& utf8, bool* lossy = nullptr);
std::string Cp949ToUtf8(const std::string& cp949);

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
// A last line without '\n' still counts; an empty stream has no lines.
class LineReader {
  public:
    explicit LineReader(std::FILE* f) : m_file(f) {}
    bool Next(std::string& line);

  private:
    std::FILE* m_file;
};

// Drops a UTF-8 byte order mark at the start of the text.
void StripUtf8Bom(std::string& s);

}  // namespace host

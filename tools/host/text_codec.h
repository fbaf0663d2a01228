// Code-page conversions and line reading for mirelo-host.
#pragma once

#include <cstdio>
#include <string>

namespace host {

// Characters the target code page lacks become '?'; *lossy tells whether any did.
std::string Utf8ToShiftJis(const std::string& utf8, bool* lossy = nullptr);
std::string Cp949ToUtf8(const std::string& cp949);

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

// Text for the user on the standard streams, written the way each stream takes it: a console
// gets UTF-16 through WriteConsoleW, so Hangul and kana show whatever its code page; a file
// or a pipe gets bytes, in one encoding for standard output and standard error alike.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace programs {

enum class ByteEncoding { kUtf8, kCp949 };

class TextStream {
  public:
    using ConsoleWriter = BOOL(WINAPI*)(HANDLE, const void*, DWORD, LPDWORD, LPVOID);

    // A console when GetConsoleMode succeeds on `handle`; a null or invalid handle takes
    // nothing.
    TextStream(HANDLE handle, ByteEncoding encoding);
    // For tests: `console` stands for GetConsoleMode's answer and `writer` for WriteConsoleW.
    TextStream(HANDLE handle, ByteEncoding encoding, bool console, ConsoleWriter writer);
    TextStream(const TextStream&) = delete;
    TextStream& operator=(const TextStream&) = delete;

    bool IsConsole() const { return m_console; }
    // UTF-8 text; to a CP949 file, a character that CP949 lacks becomes '?'.
    void Write(std::string_view utf8);
    // The plug-in's own CP949 bytes, passed on unchanged to a CP949 file.
    void WriteCp949(std::string_view cp949);

  private:
    void WriteWide(const std::wstring& text);
    void WriteBytes(std::string_view bytes);

    HANDLE m_handle;
    ByteEncoding m_encoding;
    bool m_console;
    ConsoleWriter m_writer;
    SRWLOCK m_lock = SRWLOCK_INIT;  // whole lines from several threads
};

// The process's standard output and standard error. Set once, before anything is written.
void ConfigureStandardStreams(ByteEncoding encoding);
TextStream& Out();
TextStream& Err();

// Whether the standard input is a console, and one line typed there (UTF-8, without its line
// end); false at the end of input (Ctrl+Z, or the console closed).
bool StandardInputIsConsole();
bool ReadConsoleLine(std::string& line);

}  // namespace programs

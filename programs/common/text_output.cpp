#include "text_output.h"

#include <algorithm>
#include <memory>

#include "code_pages.h"

namespace programs {
namespace {

// Older consoles refuse a single write much over 64 KiB.
constexpr std::size_t kConsoleChunk = 8192;

bool IsConsoleHandle(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

std::unique_ptr<TextStream> g_out, g_err;

}  // namespace

TextStream::TextStream(HANDLE handle, ByteEncoding encoding)
    : TextStream(handle, encoding, IsConsoleHandle(handle), &WriteConsoleW) {}

TextStream::TextStream(HANDLE handle, ByteEncoding encoding, bool console, ConsoleWriter writer)
    : m_handle(handle), m_encoding(encoding), m_console(console), m_writer(writer) {}

void TextStream::Write(std::string_view utf8) {
    if (m_console) return WriteWide(mirelo::Utf8ToWide(utf8));
    if (m_encoding == ByteEncoding::kUtf8) return WriteBytes(utf8);
    WriteBytes(mirelo::EncodeLossy(mirelo::kCp949CodePage, utf8));
}

void TextStream::WriteCp949(std::string_view cp949) {
    if (m_console) return WriteWide(mirelo::CodePageToWide(mirelo::kCp949CodePage, cp949));
    if (m_encoding == ByteEncoding::kCp949) return WriteBytes(cp949);
    WriteBytes(mirelo::WideToUtf8(mirelo::CodePageToWide(mirelo::kCp949CodePage, cp949)));
}

void TextStream::WriteWide(const std::wstring& text) {
    if (m_handle == nullptr || m_handle == INVALID_HANDLE_VALUE) return;
    AcquireSRWLockExclusive(&m_lock);
    for (std::size_t at = 0; at < text.size();) {
        std::size_t n = std::min(kConsoleChunk, text.size() - at);
        // Never part a surrogate pair between two writes.
        if (at + n < text.size() && IS_HIGH_SURROGATE(text[at + n - 1])) --n;
        DWORD written = 0;
        if (!m_writer(m_handle, text.data() + at, static_cast<DWORD>(n), &written, nullptr) ||
            written == 0)
            break;
        at += written;
    }
    ReleaseSRWLockExclusive(&m_lock);
}

void TextStream::WriteBytes(std::string_view bytes) {
    if (m_handle == nullptr || m_handle == INVALID_HANDLE_VALUE) return;
    AcquireSRWLockExclusive(&m_lock);
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) ||
            written == 0)
            break;
        bytes.remove_prefix(written);
    }
    ReleaseSRWLockExclusive(&m_lock);
}

void ConfigureStandardStreams(ByteEncoding encoding) {
    g_out = std::make_unique<TextStream>(GetStdHandle(STD_OUTPUT_HANDLE), encoding);
    g_err = std::make_unique<TextStream>(GetStdHandle(STD_ERROR_HANDLE), encoding);
}

TextStream& Out() {
    if (!g_out) ConfigureStandardStreams(ByteEncoding::kUtf8);
    return *g_out;
}

TextStream& Err() {
    if (!g_err) ConfigureStandardStreams(ByteEncoding::kUtf8);
    return *g_err;
}

bool StandardInputIsConsole() {
    return IsConsoleHandle(GetStdHandle(STD_INPUT_HANDLE));
}

bool ReadConsoleLine(std::string& line) {
    line.clear();
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring wide;
    for (;;) {
        wchar_t c = 0;
        DWORD got = 0;
        if (!ReadConsoleW(in, &c, 1, &got, nullptr) || got == 0) break;
        if (c == L'\n') {
            if (!wide.empty() && wide.back() == L'\r') wide.pop_back();
            line = mirelo::WideToUtf8(wide);
            return true;
        }
        // Ctrl+Z at the start of a line ends the input, as the console's own programs take it.
        if (c == 0x1A && wide.empty()) return false;
        wide.push_back(c);
    }
    line = mirelo::WideToUtf8(wide);
    return !wide.empty();
}

}  // namespace programs

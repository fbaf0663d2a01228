#include "arg_reader.h"

#include "messages.h"

namespace programs {

bool ArgReader::Next() {
    if (Failed() || m_index >= m_argv.size()) return false;
    const std::wstring& arg = m_argv[m_index++];
    m_inline.reset();
    m_name = arg;
    if (arg.rfind(L"--", 0) == 0) {
        if (const std::size_t eq = arg.find(L'='); eq != std::wstring::npos) {
            m_name = arg.substr(0, eq);
            m_inline = arg.substr(eq + 1);
        }
    }
    return true;
}

std::optional<std::wstring> ArgReader::Value() {
    if (m_inline) return m_inline;
    if (m_index < m_argv.size()) return m_argv[m_index++];
    Fail(Format(Msg::kArgNeedsValue, {AsciiOf(m_name)}));
    return std::nullopt;
}

bool ArgReader::Flag() {
    if (!m_inline) return true;
    Fail(Format(Msg::kArgTakesNoValue, {AsciiOf(m_name)}));
    return false;
}

void ArgReader::Fail(std::string message) {
    if (m_error.empty()) m_error = std::move(message);
}

std::string AsciiOf(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s;
}

}  // namespace programs

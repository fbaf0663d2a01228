// The command line of mirelo-host and mirelo-server, read one argument at a time:
// "--name=value" and "--name value" mean the same.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "program_text.h"

namespace programs {

class ArgReader {
  public:
    explicit ArgReader(const std::vector<std::wstring>& argv) : m_argv(argv) {}

    // Moves to the next argument; false once they are all read or an error was found.
    bool Next();
    // The option without any "=value", or a plain argument as given.
    const std::wstring& Name() const { return m_name; }
    // The argument as given, "=value" included.
    const std::wstring& Raw() const { return m_argv[m_index - 1]; }
    bool HasInlineValue() const { return m_inline.has_value(); }
    const std::optional<std::wstring>& InlineValue() const { return m_inline; }
    // The option's value: after its "=", else the next argument. Without one, the error says so.
    std::optional<std::wstring> Value();
    // For an option that takes no value: "--name=value" is an error.
    bool Flag();

    void Fail(std::string message);
    const std::string& Error() const { return m_error; }
    bool Failed() const { return !m_error.empty(); }

  private:
    const std::vector<std::wstring>& m_argv;
    std::size_t m_index = 0;
    std::wstring m_name;
    std::optional<std::wstring> m_inline;
    std::string m_error;
};

// ASCII text as is; anything else as '?', for messages and option strings.
std::string AsciiOf(const std::wstring& w);

}  // namespace programs

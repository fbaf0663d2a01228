// Helpers of the tool tests: running a program, and ANSI text for its paths.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "test_files.h"

namespace tooltest {

std::string Narrow(const std::wstring& s);  // to the ANSI code page

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;  // stays so when the program could not start or hung
    std::string out;
    std::string err;
};

// Runs a program with the given arguments, feeding it `input` on standard input.
ProcessResult RunProcess(const std::wstring& exe, const std::vector<std::wstring>& args,
                         const std::string& input, DWORD timeoutMs = 60000);

}  // namespace tooltest

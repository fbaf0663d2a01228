// Command line of mirelo-host.
#pragma once

#include <string>
#include <vector>

namespace host {

enum class InputEncoding { Utf8, ShiftJis };
enum class OutputEncoding { Utf8, Cp949 };

// Exit codes, also listed in the help text.
enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitInput = 2,
    kExitLoad = 3,
    kExitExport = 4,
    kExitInit = 5,
    kExitWindow = 6,
    kExitLineFailed = 7,
    kExitDictionary = 8,
    kExitInputEncoding = 9,
    kExitEngineFolder = 10,
};

inline constexpr int kOptionBufferSize = 16;
inline constexpr int kMaxDestSize = 16 << 20;

struct HostArgs {
    std::wstring plugin;  // empty: Mirelo.dll beside the program
    std::string options;  // empty, or two digits 0 and 1, copied into the option buffer
    int destSize = 4096;
    InputEncoding input = InputEncoding::Utf8;
    bool inputEncodingGiven = false;  // else the input's own bytes decide
    OutputEncoding output = OutputEncoding::Utf8;
    bool stats = false;
    bool dialog = false;
    bool diagnose = false;
    bool help = false;
    bool version = false;
    std::wstring inputFile;        // empty or "-": standard input
    bool inputGiven = false;       // a file (or "-") was named
    bool checkDict = false;        // check a dictionary folder instead of translating
    bool trace = false;            // dictionary entries that fire, on stderr
    std::wstring dictFolder;       // empty: MireloDict beside the plug-in
    std::string game;              // folded; its subfolder applies on top of the common files
    bool setEngineFolder = false;  // record engineFolder where the plug-in looks
    std::wstring engineFolder;
};

struct ParsedArgs {
    HostArgs args;
    std::string error;  // empty when the command line is good
};

// Arguments without the program name, after RepairStrayQuotes. Errors are worded in the
// messages' language; --lang is taken here but chosen before (ChooseLanguage).
ParsedArgs ParseArgs(const std::vector<std::wstring>& argv);

const char* HelpText();

}  // namespace host

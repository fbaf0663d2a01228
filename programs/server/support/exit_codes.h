// mirelo-server's exit codes, shared by the jobs that end the program.
#pragma once

namespace server {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitListen = 2,
    kExitLoad = 3,
    kExitInit = 5,
    kExitInput = 6,          // --translate-file: the input or output file
    kExitLineFailed = 7,     // --translate-file: some lines were not translated
    kExitStopped = 8,        // --translate-file: stopped by Ctrl+C; an --out file is untouched
    kExitInputEncoding = 9,  // --translate-file: the input's encoding cannot be told
    kExitShare = 10,         // --export/--import: the file cannot be read, written or used
};

}  // namespace server

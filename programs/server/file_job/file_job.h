// mirelo-server --translate-file: a whole file through the same workers as the HTTP server.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "translator.h"

namespace server {

class AnswerFeed;

// How long a file job waits for the workers when none can take a line, before it gives up.
inline constexpr std::chrono::seconds kFileReadyWait{30};

struct FileJob {
    std::wstring in;
    std::wstring out;  // empty: standard output
    std::chrono::seconds lineTimeout{60};
    unsigned workers = 1;
    std::string game;  // folded; empty: the common dictionary alone
    std::chrono::milliseconds readyWait = kFileReadyWait;
    const std::atomic<bool>* stop = nullptr;  // set by Ctrl+C
    // The workers stayed unable to take a line for readyWait: says why (given the pool's
    // problem) and gives the exit code.
    std::function<int(const std::string& problem)> notReady;
    const AnswerFeed* feed = nullptr;  // each chunk's lines go there, as client "file"
};

// Translates the file `job.in` (UTF-8 or Shift-JIS, told apart as mirelo-host does) line by
// line with `translator`, which must be ready, and writes one UTF-8 line per input line, each
// with the ending it had, to `job.out`: into a file beside it that replaces it only once every
// line is in, so that a stop or a failure leaves the old output as it was. A full queue makes
// the job wait for room. Progress goes to a console's standard error, and the lines not
// translated are listed there at the end with their reasons. Returns the exit code:
// kExitLineFailed when any line was not translated, kExitStopped after Ctrl+C.
int TranslateFile(Translator& translator, const FileJob& job);

}  // namespace server

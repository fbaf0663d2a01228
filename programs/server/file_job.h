// mirelo-server --translate-file: a whole file through the same workers as the HTTP server.
#pragma once

#include <chrono>
#include <string>

#include "translator.h"

namespace server {

// Translates the file `in` (UTF-8 or Shift-JIS, told apart as mirelo-host does) line by line
// with `translator`, which must be ready, and writes one UTF-8 line per input line, each with
// the ending it had, to `out` (standard output when empty). Progress goes to a console's
// standard error, and the lines not translated are listed there at the end. Returns the exit
// code: kExitLineFailed when any line was not translated.
int TranslateFile(Translator& translator, const std::wstring& in, const std::wstring& out,
                  std::chrono::seconds lineTimeout, unsigned workers);

}  // namespace server

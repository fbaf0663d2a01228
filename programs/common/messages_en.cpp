// The programs' texts in English. Dictionary reasons read exactly as the dictionary core's
// own English ones.
#include "messages.h"

namespace programs {
namespace {

using enum Msg;

constexpr MessageEntry kEnglish[] = {
    {kUsageError, "{0} (see --help)"},
    {kArgNeedsValue, "{0} needs a value"},
    {kArgTakesNoValue, "{0} takes no value"},
    {kArgLang, "--lang is ko or en"},
    {kArgPluginPath, "--plugin needs a path"},
    {kCannotLoadPlugin, "cannot load plug-in {0}: {1} (error {2})"},
    {kPluginLacksExports, "plug-in {0} lacks the export(s) {1}"},
    {kPluginDidNotStart, "OnPluginInit returned 0: the plug-in did not start"},
    {kNoWindow, "cannot create a window for the plug-in (error {0})"},
    {kWorkerNoStart, "cannot start a worker process: {0} (error {1})"},
    {kUnknownError, "unknown error"},

    {kArgOptions,
     "--options takes two digits, each 0 or 1, e.g. 11: the first removes the notes the "
     "engine adds in brackets, the second tidies spaces; leave it out for the plug-in's own "
     "default"},
    {kArgDestSize, "--dest-size takes a whole number from 1 to {0}"},
    {kArgInputEncoding, "--input-encoding is utf8 or sjis"},
    {kArgOutputEncoding, "--output-encoding is utf8 or cp949"},
    {kArgUnknownOption, "unknown option {0}"},
    {kArgOneInput, "only one input file may be given"},
    {kArgOneFolder, "--check-dict takes one folder"},
    {kHostHelp,
     "Usage: mirelo-host [options] [FILE]\n"
     "Loads a translation plug-in the way a host does and translates FILE (or standard\n"
     "input, also as \"-\"), one output line per input line, with its line end.\n"
     "\n"
     "  --plugin PATH             plug-in to load (default: Mirelo.dll beside this program)\n"
     "  --options 00|01|10|11     the plug-in's two clean-ups, off (0) or on (1): the\n"
     "                            notes the engine adds in brackets, and spaces\n"
     "                            (default: none given, the plug-in's own: 10)\n"
     "  --dest-size N             destination buffer size in bytes (default: 4096)\n"
     "  --input-encoding utf8|sjis    encoding of the input (default: told from the\n"
     "                            input, see below)\n"
     "  --output-encoding utf8|cp949  encoding of what goes to a file or a pipe, on\n"
     "                            standard output and standard error alike (default:\n"
     "                            utf8); a console is always written as Unicode\n"
     "  --stats                   print lines, failures and timings on stderr at the end\n"
     "  --dialog                  open the options dialog after start-up and print\n"
     "                            options: \"<text>\"; translates only a FILE given too\n"
     "  --trace                   for each line, the dictionary entries that fired\n"
     "                            (file, line, FROM -> TO) on stderr; see below\n"
     "  --check-dict [FOLDER]     check a dictionary folder (default: MireloDict beside\n"
     "                            the plug-in) and print each problem as FILE:LINE:\n"
     "                            reason, then the entries of each kind in use\n"
     "  --game NAME               read MireloDict\\NAME on top of the common files\n"
     "                            (--check-dict then lists each entry and its file)\n"
     "  --diagnose                check where the plug-in will look for the engine and\n"
     "                            what it will find there, without loading anything;\n"
     "                            exit code 0 when it looks ready, 5 otherwise\n"
     "  --set-engine-folder FOLDER  record FOLDER as the engine's folder where the\n"
     "                            plug-in looks (HKCU\\Software\\Kestrow\\Mirelo, value\n"
     "                            FilePath), once it holds a usable 32-bit J2KEngine.dll\n"
     "  --lang ko|en              language of the messages (default: the language of\n"
     "                            Windows' display)\n"
     "  --help                    this text\n"
     "  --version                 the version of Mirelo this program belongs to\n"
     "\n"
     "Without --input-encoding the whole input is read first. Text with a UTF-8 byte\n"
     "order mark, or valid UTF-8, is UTF-8; otherwise text that is valid Shift-JIS is\n"
     "taken as Shift-JIS, and one line on stderr says so; otherwise nothing is translated\n"
     "and the first line that is neither is named.\n"
     "\n"
     "A line the plug-in fails to translate is written as it was, with a warning on\n"
     "stderr.\n"
     "The plug-in may show message boxes or a folder browser while it starts.\n"
     "\n"
     "--trace reads MireloDict beside the plug-in once, at start, and runs its pre and\n"
     "name entries on each line as the plug-in does. The text that post entries work on\n"
     "never leaves the plug-in, so for post it lists the entries whose TO is in the\n"
     "result (deletions never show).\n"
     "\n"
     "Exit codes:\n"
     "  0  every line translated\n"
     "  1  bad command line\n"
     "  2  input file cannot be read\n"
     "  3  plug-in cannot be loaded\n"
     "  4  plug-in lacks one of OnPluginInit, OnPluginOption, OnPluginClose, Translate\n"
     "  5  the plug-in did not start\n"
     "  6  no window could be created for the plug-in\n"
     "  7  at least one line failed to translate (all lines were still written)\n"
     "  8  --check-dict found a problem, or no such folder\n"
     "  9  the input is neither UTF-8 nor Shift-JIS (or is UTF-16): nothing was written\n"
     " 10  --set-engine-folder recorded nothing: no usable engine in the folder, or the\n"
     "     registry could not be written\n"},

    {kCannotOpenInput, "cannot open input file {0}: {1}"},
    {kReadError, "error while reading the input"},
    {kLineWarning, "warning: line {0}: {1}"},
    {kLineLossy, "characters without a Shift-JIS form became '?'"},
    {kLineNotUtf8, "not valid UTF-8; the bytes that are not became '?'"},
    {kLineNul, "a NUL byte ends the text handed to the plug-in"},
    {kLineFailed,
     "not translated: the plug-in gave no answer within 3 seconds, so the line is written as "
     "it was. If the lines after it fail too, the engine has stopped: run mirelo-host again"},
    {kHostDidNotStart,
     "the plug-in did not start, so no line was translated; its message box said why. "
     "mirelo-host --diagnose shows what it finds where it looks for the engine"},
    {kLineNoTerminator, "result not terminated within the destination"},
    {kLineOverrun, "the plug-in wrote past the end of the destination"},
    {kStats, "lines: {0}, failures: {1}, total: {2} us, mean: {3} us"},
    {kInputIsShiftJis,
     "the input is not UTF-8 but reads as Shift-JIS: taking it as Shift-JIS "
     "(--input-encoding sjis says so and leaves out this line)"},
    {kInputNeither,
     "line {0} of the input is neither UTF-8 nor Shift-JIS; nothing was translated. Save "
     "the file as UTF-8, or name its encoding with --input-encoding"},
    {kInputMixed,
     "line {0} of the input is Shift-JIS while other lines are UTF-8; nothing was "
     "translated. Save the whole file as UTF-8"},
    {kInputMarkNotUtf8,
     "line {0} of the input is not valid UTF-8, though the input starts with a UTF-8 byte "
     "order mark; nothing was translated"},
    {kInputUtf16, "the input looks like UTF-16; save it as UTF-8 (nothing was translated)"},

    {kDictNoFolder, "{0}: no such folder"},
    {kDictSummary, "{0}: {1} file(s); entries in use: name {2}, pre {3}, post {4}"},
    {kDictSummaryLines, "{0}: {1} file(s); entries in use: name {2}, pre {3}, post {4}, line {5}"},
    {kDictOutOfMemory, "out of memory while compiling"},
    {kDictProblem, "{0}:{1}: {2}"},
    {kDictFileProblem, "{0}: {1}"},
    {kDictOneColumn, "expected KIND<TAB>FROM<TAB>TO, found 1 column"},
    {kDictColumns, "expected KIND<TAB>FROM<TAB>TO, found {0} columns"},
    {kDictUnknownKind, "unknown kind \"{0}\" (name, pre, post, line, pre-re or post-re)"},
    {kDictEmptyFrom, "FROM is empty"},
    {kDictEmptyNameTo, "TO of a name is empty"},
    {kDictNoConversion, "{0}: no {1} conversion available"},
    {kDictNoForm, "{0}: {1} has no {2} form"},
    {kDictNotWritable, "{0}: cannot be written in {1}"},
    {kDictTooLong, "{0} is {1} bytes in {2}, more than 1024"},
    {kDictNotUtf8, "not valid UTF-8"},
    {kDictNul, "holds a NUL character"},
    {kDictTooManyNames, "more than 100000 names"},
    {kDictLineEscape,
     "FROM holds {0}, which is not a line break here: a line entry answers one line"},
    {kDictLineRepeated, "the same line is given again at {0}:{1}, which is used instead"},
    {kDictFileTooLarge, "file is larger than 16 MiB; skipped whole"},
    {kDictFileUtf16, "this file looks like UTF-16; save it as UTF-8"},
    {kDictFileCp949, "this file looks like CP949; save it as UTF-8"},
    {kDictFileShiftJis, "this file looks like Shift-JIS; save it as UTF-8"},
    {kDictCannotOpen, "cannot be opened (error {0})"},
    {kDictCannotRead, "cannot be read (error {0})"},
    {kTraceProblem, "trace: {0}"},
    {kTraceCounts, "trace: {0}: name {1}, pre {2}, post {3}"},
    {kTraceCountsLines, "trace: {0}: name {1}, pre {2}, post {3}, line {4}"},
    {kTraceLine, "trace: line {0}: {1}"},
    {kTraceNameLost, "{0} (not in the result: the engine dropped the name)"},
    {kTraceMaybe, "{0} (maybe: its TO is in the result)"},
    {kDictPatternCounts, ", pre-re {0}, post-re {1}"},
    {kDictPatternSyntax, "the pattern fails at character {0}: {1}"},
    {kDictPatternTooLong, "the pattern is {0} characters, more than 1024"},
    {kDictPatternGroup, "TO uses {0}, but the pattern has {1} group(s)"},
    {kDictTooManyPatterns, "more than 1000 pattern entries"},
    {kTraceReplaced, "{0} (replaced {1})"},
    {kTraceOverBudget, "{0} (left out for this line: its search took too many steps)"},
    {kTraceTooLong, "{0} (left out for this line: it would make the line too long)"},
    {kTraceLineOverBudget,
     "{0} (left out for this line: the entries before it used up the line's steps)"},

    {kDiagRegistry, "Registry value:"},
    {kDiagDataFolder, "Data folder:"},
    {kDiagEngine, "Engine library:"},
    {kDiagNote, "Note:"},
    {kDiagKind, "Library kind:"},
    {kDiagExports, "Exports:"},
    {kDiagExportTable, "Export table:"},
    {kDiagMissing, "Missing:"},
    {kDiagVerdict, "Verdict: {0}"},
    {kDiagToDo, "To do: {0}"},
    {kDiagNoKey, "{0}: the key does not exist"},
    {kDiagNoValue, "{0}: no such value (or longer than 259 characters)"},
    {kDiagValue, "{0} = \"{1}\""},
    {kDiagValueNotSz, "{0} = \"{1}\" (not a REG_SZ value)"},
    {kDiagPresent, "{0} (present)"},
    {kDiagAbsent, "{0} (missing)"},
    {kDiagNonAscii,
     "the folder has non-ASCII characters; the plug-in asks before using it and the "
     "engine may not read its data"},
    {kDiag64Bit, "64-bit (machine {0})"},
    {kDiagX86Library, "32-bit x86 library"},
    {kDiagX86Program, "32-bit x86 program, not a library"},
    {kDiagOtherLibrary, "32-bit, machine {0} library"},
    {kDiagOtherProgram, "32-bit, machine {0} program, not a library"},
    {kDiagNoFunctions, "none of the five engine functions"},
    {kPeNoMz, "not a Windows program or library (no MZ header)"},
    {kPeNoPe, "not a Windows program or library (no PE header)"},
    {kPeNoOptionalHeader, "the optional header is missing"},
    {kPeUnknownOptionalHeader, "unknown optional header kind"},
    {kPeSectionsCut, "the section table is cut short"},
    {kPeExportsOutside, "the export table lies outside the file"},
    {kPeExportNamesDamaged, "the export name table is damaged"},
    {kPeExportNameOutside, "an export name lies outside the file"},
    {kVerdictNotRecorded,
     "the engine's folder is not recorded; the plug-in will ask for it at every start"},
    {kToDoNotRecorded,
     "install the engine's product (its setup records the folder), or record the folder "
     "yourself: mirelo-host --set-engine-folder FOLDER. A folder picked when the plug-in "
     "asks is used for that start only and not kept"},
    {kVerdictFolderMissing, "the folder FilePath names does not exist"},
    {kToDoFolderMissing,
     "reinstall the engine's product, or record the folder that holds J2KEngine.dll: "
     "mirelo-host --set-engine-folder FOLDER"},
    {kVerdictNamesFile, "FilePath names the file J2KEngine.dll itself, not its folder"},
    {kToDoNamesFile, "record the folder that holds it: mirelo-host --set-engine-folder \"{0}\""},
    {kVerdictNotWhereLooked, "J2KEngine.dll is not where the plug-in looks"},
    {kToDoParent,
     "FilePath names a folder inside the engine's folder: set it to its parent, which holds "
     "J2KEngine.dll: mirelo-host --set-engine-folder \"{0}\""},
    {kToDoSetFolder,
     "set FilePath to the folder that holds J2KEngine.dll: mirelo-host --set-engine-folder "
     "FOLDER"},
    {kVerdictUnreadable, "J2KEngine.dll cannot be read"},
    {kToDoUnreadable, "check the file's permissions, or reinstall the engine's product"},
    {kVerdictNotLibrary, "J2KEngine.dll is not a Windows library"},
    {kToDoReinstall, "reinstall the engine's product"},
    {kVerdict64Bit, "J2KEngine.dll is a 64-bit library; Mirelo and its engine are 32-bit"},
    {kToDo64Bit,
     "install the 32-bit engine; a 64-bit tool reaches Mirelo through mirelo-server "
     "instead"},
    {kVerdictNotX86, "J2KEngine.dll is not a 32-bit x86 library"},
    {kVerdictLacksFunctions, "J2KEngine.dll lacks engine functions; the plug-in will refuse it"},
    {kToDoLacksFunctions,
     "reinstall the engine's product; this file is not the engine Mirelo uses"},
    {kVerdictNoData, "the engine's data folder is missing"},
    {kToDoNoData, "reinstall the engine's product (its Dat folder belongs beside J2KEngine.dll)"},
    {kVerdictReady, "the plug-in should find, load and start the engine"},
    {kToDoReady, "nothing; if translation still fails, run the plug-in and read its message"},
    {kSetNoFolder, "{0}: no such folder"},
    {kSetTooLong, "the folder's path has {0} characters; the plug-in reads at most 259"},
    {kSetNotRecorded, "nothing was recorded"},
    {kSetRecorded, "recorded {0} = \"{1}\"; the plug-in uses this folder from its next start"},
    {kSetCannotWrite, "cannot write {0}: {1} (error {2})"},
    {kSetNamesFile,
     "this is the file J2KEngine.dll itself; give its folder: mirelo-host "
     "--set-engine-folder \"{0}\""},
    {kSetInsideFolder,
     "this folder is inside the engine's folder; give its parent, which holds "
     "J2KEngine.dll: mirelo-host --set-engine-folder \"{0}\""},
    {kSetNoEngine, "the folder holds no J2KEngine.dll; give the folder that does"},

    {kEngineQuestionAhead,
     "The plug-in is about to ask where \"Mirelo\" is installed: it means the translation "
     "engine's folder, the one that holds J2KEngine.dll and Dat, not the folder Mirelo was "
     "unpacked to."},
    {kPickedMireloFolder,
     "{0} is Mirelo's own folder, not the translation engine's: when the plug-in asks, pick "
     "the engine's folder, the one that holds J2KEngine.dll and Dat"},
    {kOfferToRecord,
     "The engine started from {0}, the folder you picked. Record it, so that the plug-in "
     "stops asking at every start? [y/N] "},
    {kRecordLater,
     "The plug-in will ask again at its next start; to record the folder: mirelo-host "
     "--set-engine-folder \"{0}\""},

    {kServerArgPort, "--port takes 1 to 65535"},
    {kServerArgListen, "--listen takes HOST:PORT, e.g. 192.168.0.5:18460"},
    {kServerArgCors, "--cors takes an origin such as http://localhost:8080"},
    {kServerArgOptions, "--options takes at most 15 ASCII characters"},
    {kServerArgQueue, "--queue takes 1 to 1000000"},
    {kServerArgTimeout, "--timeout takes 1 to 3600 seconds"},
    {kServerArgWorkers, "--workers takes 1 to 8"},
    {kServerArgOutAlone, "--out goes with --translate-file"},
    {kFileNeither,
     "line {0} of the input is neither UTF-8 nor Shift-JIS; nothing was translated. Save "
     "the file as UTF-8"},
    {kCannotWriteOutput, "cannot write output file {0}: {1}"},
    {kFileProgress, "{0}/{1} lines"},
    {kFileFailedLines, "{0} lines not translated (kept as they were): {1}"},
    {kWorkerLost, "a worker process ended before its plug-in had started"},
    {kWorkersUnavailable,
     "no worker has been able to take a line for {0} s; the engine is being started again"},
    {kEngineStartSlow, "the engine's start has taken {0} s; if a question box is open, answer it"},
    {kEndedFromOutside, "ended from outside"},
    {kWorkersPaused,
     "workers are not started for {0} s more: {1} ended during a line within {2} s"},
    {kWorkerLaunchStep, "cannot start a worker process: {0} failed: {1} (error {2})"},
    {kAcceptFailed,
     "a connection could not be accepted: {0} (error {1}); accepting again in {2} ms"},
    {kDictWatchNoStart,
     "dictionary folder {0} is not watched: {1} (error {2}); changes show after a restart"},
    {kServerArgUnknown, "unknown argument {0}"},
    {kServerHelp,
     "Usage: mirelo-server [options]\n"
     "Serves the translations of Mirelo.dll over HTTP on this machine, for tools that\n"
     "cannot load a 32-bit DLL. Stop it with Ctrl+C or by closing its window.\n"
     "\n"
     "  --port N              port on 127.0.0.1 (default: {0})\n"
     "  --listen HOST:PORT    listen on another address instead; every machine that can\n"
     "                        reach it can use the server (a warning is printed)\n"
     "  --cors ORIGIN         let web pages from ORIGIN read the answers (default: none)\n"
     "  --plugin PATH         plug-in to load (default: Mirelo.dll beside this program)\n"
     "  --options STR         option string handed to the plug-in (default: 11, both\n"
     "                        clean-ups on; \"\" for the plug-in's own default)\n"
     "  --queue N             lines that may wait for the plug-in (default: 20000);\n"
     "                        beyond that the answer is 503 with Retry-After\n"
     "  --timeout S           seconds a request's lines may wait (default: 60); lines not\n"
     "                        started by then count as not answered in time\n"
     "  --workers N           worker processes, each with a plug-in of its own (default:\n"
     "                        the number of logical processors, at most 8)\n"
     "  --translate-file IN   translate the file IN (UTF-8 or Shift-JIS) through the\n"
     "                        workers instead of serving HTTP: one UTF-8 line out per\n"
     "                        line in, line ends kept; exit 7 when a line failed\n"
     "  --out OUT             write that translation to OUT (default: standard output);\n"
     "                        OUT is replaced only once the whole file is translated\n"
     "  --game NAME           with --translate-file: apply MireloDict\\NAME on top\n"
     "  --log FOLDER          where mirelo-server.log goes (default: the logs folder\n"
     "                        beside this program)\n"
     "  --data FOLDER         where the history (history.sqlite3) is kept (default: this\n"
     "                        program's folder)\n"
     "  --history-rows N      lines the history keeps, the oldest going first (default:\n"
     "                        1000000)\n"
     "  --history-mb N        megabytes of text (sources, translations, game names) the\n"
     "                        history keeps, the oldest lines going first (default: 256;\n"
     "                        the file is larger by its search index)\n"
     "  --no-history          keep no history of the lines translated\n"
     "  --export GAME FILE    write GAME's corrections, then the other lines of its history,\n"
     "                        to FILE (.txt source=translation, .tsv or .json), then exit\n"
     "  --format F            beside --export or --import: xunity, tsv, json, luna\n"
     "                        (LunaTranslator's pre-translation JSON) or mtool (MTool's\n"
     "                        JSON) instead of the format FILE's extension names\n"
     "  --import GAME FILE    make the lines of FILE (.txt, .tsv or .json) corrections of\n"
     "                        GAME, in MireloDict\\GAME\\corrections.txt, then exit\n"
     "  --diagnose            check where the plug-in will look for the engine and what\n"
     "                        it will find there, then exit (0 when it looks ready, 5 not)\n"
     "  --lang ko|en          language of the messages (default: the language of\n"
     "                        Windows' display)\n"
     "  --help                this text\n"
     "  --version             the version of Mirelo this program belongs to\n"
     "\n"
     "Endpoints (UTF-8; HEAD is answered as GET, without the body):\n"
     "  GET  /translate?text=...        the translation as text/plain\n"
     "  POST /translate  text/plain     one answer line per line\n"
     "  POST /translate  application/json  {\"text\": ...} or {\"texts\": [...]}\n"
     "  GET  /status                    counters as JSON\n"
     "  game=NAME on /translate, or /game/NAME/translate: MireloDict\\NAME on top\n"
     "Until the plug-in is ready, translations are answered 503 \"the plug-in is not ready\".\n"
     "\n"
     "Exit codes: 0 stopped cleanly, 1 bad command line, 2 cannot listen,\n"
     "3 plug-in cannot be loaded, 5 the plug-in did not start; with --translate-file\n"
     "also 6 the input or output file, 7 a line was not translated, 8 stopped by\n"
     "Ctrl+C, 9 the input's encoding cannot be told; with --export or --import\n"
     "10 the file to read or write cannot be used.\n"},
    {kServerStarting,
     "mirelo-server {0}: listening on {1}\n"
     "\n"
     "Unity game translator, custom endpoint (its config.ini):\n"
     "  [Service]\n"
     "  Endpoint=CustomTranslate\n"
     "  [Custom]\n"
     "  Url={1}/translate\n"
     "  EnableShortDelay=True\n"
     "  DisableSpamChecks=True\n"
     "\n"
     "LunaTranslator, general large-model interface: address {1}, model mirelo,\n"
     "  user message {sentence} alone, 0 context lines\n"
     "\n"
     "Any other tool, or by hand:\n"
     "  curl \"{1}/translate?text=%E3%81%93%E3%82%93%E3%81%AB%E3%81%A1%E3%81%AF\"\n"
     "  curl --data-binary @lines.txt -H \"Content-Type: text/plain\" {1}/translate\n"
     "  curl {1}/status\n"
     "\n"
     "Starting the plug-in... (Ctrl+C or closing this window stops the server)\n"},
    {kServerWorkbench, "workbench (lines, corrections, dictionary, status): open {0} in a browser"},
    {kServerReady, "Plug-in ready."},
    {kServerStopping, "stopping"},
    {kServerClosed, "plug-in closed"},
    {kServerOpenWarning,
     "warning: listening on {0}: other machines that can reach this address can use the "
     "server; it has no access control"},
    {kServerNoToken,
     "the workbench could not make its token ({0}): every change from the page is refused "
     "until the server is started again"},
    {kListenBadAddress, "not an IP address: {0}"},
    {kListenInUse,
     "cannot listen on {0}:{1}: another program (another mirelo-server, perhaps) has "
     "taken this port; pick another one with --port, e.g. mirelo-server --port {2}"},
    {kListenDenied,
     "cannot listen on {0}:{1}: Windows does not let programs use this port (it may be "
     "reserved); pick another one with --port, e.g. mirelo-server --port {2}"},
    {kListenFailed, "cannot listen on {0}:{1}: {2} (error {3})"},
    {kServerWaitsForUser,
     "the plug-in is waiting for an answer in its window \"{0}\" (it may be behind other "
     "windows): answer it there. Until then translations are answered 503 (the plug-in "
     "is not ready)"},
    {kServerArgLog, "--log needs a folder"},
    {kFileOutIsInput, "--out names the input file itself; name another file for the translation"},
    {kFileWaitingForPlugin, "waiting for the plug-in to start (up to {0} s)"},
    {kFileNotReady, "the plug-in was not ready within {0} s: {1}"},
    {kFileStopped, "stopped by Ctrl+C after {0} of {1} lines"},
    {kFileOutputKept, "{0} is left as it was"},
    {kCannotReplaceOutput,
     "cannot put the translation in place of {0}: {1}; the old file is left as it was"},
    {kReasonUntranslated, "the engine gave none"},
    {kReasonQuarantined, "ended the engine twice, not tried again for now"},
    {kReasonHung, "the engine hung on it"},
    {kReasonTimedOut, "not answered in time"},
    {kEventHang, "worker {0}: the engine hung on \"{1}\"; the worker was ended and is replaced"},
    {kEventDeath, "worker {0}: its process ended ({1}); it is replaced"},
    {kEventDeathLine, "worker {0}: its process ended ({1}) on \"{2}\"; it is replaced"},
    {kEventQuarantine, "\"{0}\" is not sent to the engine for now: {1}"},
    {kEventStartFailed, "worker {0} could not start: {1}"},
    {kEventBackoff, "worker {0}: next start in {1} s"},
    {kEventStartSlow, "the engine's start has taken {0} s; if a question box is open, answer it"},
    {kEventDeadline,
     "worker {0} held \"{1}\" past the server's deadline; it was ended and is replaced"},
    {kEventRecovered, "worker {0} is ready again"},
    {kEventPaused, "{0} workers ended during a line within {1} s: no worker is started for {2} s"},
    {kEventResumed, "the pause is over: workers are started again"},
    {kEventNotEnded,
     "worker {0}'s process could not be ended: {1} (error {2}); it ends with the server"},
    {kEventDictRead, "dictionary read: {0}"},
    {kEventDictReloaded, "dictionary reloaded: {0}"},
    {kEventDictProblem, "dictionary: {0}"},
    {kEventRequestFailed, "a request failed inside the server: {0}"},
    {kEventLogUnwritable, "cannot write the log file {0}: {1}; events are shown here only"},
    {kEventsNotShown, "{0} more events not shown here; see the log file"},
    {kEventsLost, "{0} events came faster than the log could write them and are lost"},
    {kArgGame, "--game needs a game's name: {0}"},
    {kServerArgData, "--data needs a folder"},
    {kServerArgHistoryRows, "--history-rows needs a number from 1 to 100000000"},
    {kServerArgShare, "{0} needs a game and a file: {0} GAME FILE"},
    {kServerArgShareGame, "the game name \"{0}\" cannot be used: {1}"},
    {kServerArgShareFormat,
     "{0}: the extension names the format: .txt (a translation file of the Unity game translator: "
     "source=translation), .tsv or .json"},
    {kShareCannotRead, "cannot read {0}: {1}"},
    {kShareCannotWrite, "cannot write {0}: {1}"},
    {kShareTooLarge, "{0} is larger than {1} MB; split it"},
    {kShareNotText, "{0} is not UTF-8 text"},
    {kShareNotJson, "{0} is not a JSON object of \"source\": \"translation\""},
    {kShareSkipped, "{0}: skipped: {1}"},
    {kShareSkippedMore, "{0} more skipped"},
    {kShareLineBreak,
     "a line entry holds one line: the source or translation holds a line break or a tab"},
    {kShareNotString, "the translation is not a string"},
    {kShareLinesDiffer,
     "the source has {0} lines and the translation {1}: no line can be matched to its own"},
    {kShareRegex,
     "a regular expression the Unity game translator applies itself, not one line's "
     "translation: not imported"},
    {kShareRegexCount,
     "{0}: {1} regular expressions of the Unity game translator were not imported; it applies "
     "them itself (each is named above)"},
    {kShareNoTranslation, "neither userTrans nor machineTrans holds a translation"},
    {kServerArgShareFormatName, "--format is xunity, tsv, json, luna or mtool"},
    {kShareImported, "{0} corrections imported into {1}"},
    {kShareNothing, "no entry of {0} could be imported"},
    {kShareExported, "{0} corrections and {1} lines of the history written to {2}"},
    {kShareNoHistory, "the history in {0} cannot be read ({1}): only the corrections are exported"},
    {kCorrectionsTooLarge, "{0} would grow past the dictionary's file limit; nothing was changed"},
    {kHistoryUnavailable,
     "the history cannot be kept in {0}: {1}. Lines are answered but not recorded"},
    {kHistoryWriteFailed, "the history could not be written: {0}"},
    {kHistoryDropped,
     "{0} lines were not recorded in the history: they came faster than it could write them"},
    {kSaveCannotLock, "cannot save {0}: another program holds it ({1})"},
    {kHistoryLinesLost, "{0} lines were not recorded in the history: {1}"},
    {kServerArgHistoryBytes, "--history-mb needs a number of megabytes from 1 to 1000000"},
    {kHistoryReadFailed, "the history cannot be read: {0}"},
    {kHistoryNotOurs, "{0} is not a history of Mirelo; it was left as it is"},
};

static_assert(IsComplete(kEnglish), "every message needs its English text, in enum order");

}  // namespace

const MessageEntry* EnglishMessages() {
    return kEnglish;
}

}  // namespace programs

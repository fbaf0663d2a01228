// Every text mirelo-host and mirelo-server show their user, in English and in Korean: one
// table per language (messages_en.cpp, messages_ko.cpp), looked up by identifier. "{0}",
// "{1}", ... stand for the details Format fills in; both tables use the same ones.
#pragma once

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace programs {

enum class Msg : int {
    // Both programs
    kUsageError,       // {0}: what is wrong
    kArgNeedsValue,    // {0}: the option
    kArgTakesNoValue,  // {0}: the option
    kArgLang,
    kArgPluginPath,
    kCannotLoadPlugin,    // {0}: path, {1}: the system's reason, {2}: error code
    kPluginLacksExports,  // {0}: path, {1}: the missing names
    kPluginDidNotStart,
    kNoWindow,       // {0}: error code
    kWorkerNoStart,  // {0}: the system's message, {1}: error code
    kUnknownError,

    // mirelo-host: command line
    kArgOptions,
    kArgDestSize,  // {0}: the largest size
    kArgInputEncoding,
    kArgOutputEncoding,
    kArgUnknownOption,  // {0}: the option
    kArgOneInput,
    kArgOneFolder,
    kHostHelp,

    // mirelo-host: translating
    kCannotOpenInput,  // {0}: path, {1}: the system's reason
    kReadError,
    kLineWarning,  // {0}: line number, {1}: one of the kLine... texts
    kLineLossy,
    kLineNotUtf8,
    kLineNul,
    kLineFailed,
    kHostDidNotStart,
    kLineNoTerminator,
    kLineOverrun,
    kStats,  // {0}: lines, {1}: failures, {2}: total microseconds, {3}: mean
    kInputIsShiftJis,
    kInputNeither,      // {0}: line number
    kInputMixed,        // {0}: line number
    kInputMarkNotUtf8,  // {0}: line number
    kInputUtf16,

    // mirelo-host: dictionaries
    kDictNoFolder,      // {0}: folder
    kDictSummary,       // {0}: folder, {1}: files, {2}-{4}: name, pre and post entries
    kDictSummaryLines,  // the same, {5}: line entries; when there are any
    kDictOutOfMemory,   //
    kDictProblem,       // {0}: file, {1}: line, {2}: reason
    kDictFileProblem,   // {0}: file, {1}: reason
    kDictOneColumn,     // the dictionary core's problem kinds, details as it gives them
    kDictColumns,
    kDictUnknownKind,
    kDictEmptyFrom,
    kDictEmptyNameTo,
    kDictNoConversion,
    kDictNoForm,
    kDictNotWritable,
    kDictTooLong,
    kDictNotUtf8,
    kDictNul,
    kDictTooManyNames,
    kDictLineEscape,    // {0}: the escape as written
    kDictLineRepeated,  // {0}: file, {1}: line of the entry used instead
    kDictFileTooLarge,
    kDictFileUtf16,
    kDictFileCp949,
    kDictFileShiftJis,
    kDictCannotOpen,
    kDictCannotRead,
    kTraceProblem,      // {0}: a kDictProblem or kDictFileProblem text
    kTraceCounts,       // {0}: folder, {1}-{3}: name, pre and post entries
    kTraceCountsLines,  // the same, {4}: line entries; when there are any
    kTraceLine,         // {0}: line number, {1}: the entry
    kTraceNameLost,     // {0}: the entry
    kTraceMaybe,        // {0}: the entry

    // mirelo-host: pattern entries
    kDictPatternCounts,    // {0}, {1}: pre-re and post-re entries; after a summary, when any
    kDictPatternSyntax,    // {0}: the character, {1}: why (English)
    kDictPatternTooLong,   // {0}: characters
    kDictPatternGroup,     // {0}: the group as written, {1}: the groups there are
    kDictTooManyPatterns,  //
    kTraceReplaced,        // {0}: the entry, {1}: what it replaced
    kTraceOverBudget,      // {0}: the entry
    kTraceTooLong,         // {0}: the entry
    kTraceLineOverBudget,  // {0}: the entry

    // --diagnose and --set-engine-folder
    kDiagRegistry,
    kDiagDataFolder,
    kDiagEngine,
    kDiagNote,
    kDiagKind,
    kDiagExports,
    kDiagExportTable,
    kDiagMissing,
    kDiagVerdict,       // {0}: verdict
    kDiagToDo,          // {0}: what to do
    kDiagNoKey,         // {0}: key and value
    kDiagNoValue,       // {0}: key and value
    kDiagValue,         // {0}: key and value, {1}: folder
    kDiagValueNotSz,    // {0}: key and value, {1}: folder
    kDiagPresent,       // {0}: path
    kDiagAbsent,        // {0}: path
    kDiagNonAscii,      //
    kDiag64Bit,         // {0}: machine
    kDiagX86Library,    //
    kDiagX86Program,    //
    kDiagOtherLibrary,  // {0}: machine
    kDiagOtherProgram,  // {0}: machine
    kDiagNoFunctions,
    kPeNoMz,
    kPeNoPe,
    kPeNoOptionalHeader,
    kPeUnknownOptionalHeader,
    kPeSectionsCut,
    kPeExportsOutside,
    kPeExportNamesDamaged,
    kPeExportNameOutside,
    kVerdictNotRecorded,
    kToDoNotRecorded,
    kVerdictFolderMissing,
    kToDoFolderMissing,
    kVerdictNamesFile,
    kToDoNamesFile,  // {0}: the folder
    kVerdictNotWhereLooked,
    kToDoParent,  // {0}: the parent folder
    kToDoSetFolder,
    kVerdictUnreadable,
    kToDoUnreadable,
    kVerdictNotLibrary,
    kToDoReinstall,
    kVerdict64Bit,
    kToDo64Bit,
    kVerdictNotX86,
    kVerdictLacksFunctions,
    kToDoLacksFunctions,
    kVerdictNoData,
    kToDoNoData,
    kVerdictReady,
    kToDoReady,
    kSetNoFolder,      // {0}: folder
    kSetTooLong,       // {0}: characters
    kSetNotRecorded,   //
    kSetRecorded,      // {0}: key and value, {1}: folder
    kSetCannotWrite,   // {0}: key and value, {1}: the system's reason, {2}: error code
    kSetNamesFile,     // {0}: its folder
    kSetInsideFolder,  // {0}: the parent folder
    kSetNoEngine,

    // The plug-in's question for the engine's folder
    kEngineQuestionAhead,
    kPickedMireloFolder,  // {0}: the folder picked
    kOfferToRecord,       // {0}: the engine's folder
    kRecordLater,         // {0}: the engine's folder

    // mirelo-server
    kServerArgPort,
    kServerArgListen,
    kServerArgCors,
    kServerArgOptions,
    kServerArgQueue,
    kServerArgTimeout,
    kServerArgWorkers,
    kServerArgOutAlone,
    kFileNeither,         // {0}: line number
    kCannotWriteOutput,   // {0}: path, {1}: the system's reason
    kFileProgress,        // {0}: lines done, {1}: all lines
    kFileFailedLines,     // {0}: how many, {1}: their numbers
    kWorkerLost,          // a worker process ended before it said whether its plug-in started
    kWorkersUnavailable,  // {0}: seconds without a worker that can take a line
    kEngineStartSlow,     // {0}: seconds the first start has taken
    kEndedFromOutside,    // a worker's exit code says nothing of why it ended
    kWorkersPaused,       // {0}: seconds left, {1}: deaths, {2}: seconds they came within
    kWorkerLaunchStep,    // {0}: the system call, {1}: the system's reason, {2}: error code
    kAcceptFailed,        // {0}: the system's reason, {1}: error code, {2}: milliseconds
    kDictWatchNoStart,    // {0}: folder, {1}: the system's reason, {2}: error code
    kServerArgUnknown,    // {0}: the argument
    kServerHelp,          // {0}: the default port
    kServerStarting,      // {0}: version, {1}: address
    kServerWorkbench,     // {0}: the workbench page's address
    kServerReady,
    kServerStopping,
    kServerClosed,
    kServerOpenWarning,   // {0}: host
    kServerNoToken,       // {0}: the system's reason
    kListenBadAddress,    // {0}: host
    kListenInUse,         // {0}: host, {1}: port, {2}: another port
    kListenDenied,        // {0}: host, {1}: port, {2}: another port
    kListenFailed,        // {0}: host, {1}: port, {2}: the system's reason, {3}: error code
    kServerWaitsForUser,  // {0}: the window's title
    kServerArgLog,
    kFileOutIsInput,
    kFileWaitingForPlugin,  // {0}: seconds
    kFileNotReady,          // {0}: seconds, {1}: why
    kFileStopped,           // {0}: lines done, {1}: all lines
    kFileOutputKept,        // {0}: path
    kCannotReplaceOutput,   // {0}: path, {1}: the system's reason
    kReasonUntranslated,
    kReasonQuarantined,
    kReasonHung,
    kReasonTimedOut,
    kEventHang,           // {0}: worker, {1}: line
    kEventDeath,          // {0}: worker, {1}: how it ended
    kEventDeathLine,      // {0}: worker, {1}: how it ended, {2}: line
    kEventQuarantine,     // {0}: line, {1}: why
    kEventStartFailed,    // {0}: worker, {1}: why
    kEventBackoff,        // {0}: worker, {1}: seconds
    kEventStartSlow,      // {0}: seconds
    kEventDeadline,       // {0}: worker, {1}: line
    kEventRecovered,      // {0}: worker
    kEventPaused,         // {0}: deaths, {1}: seconds they came within, {2}: seconds of pause
    kEventResumed,        //
    kEventNotEnded,       // {0}: worker, {1}: the system's reason, {2}: error code
    kEventDictRead,       // {0}: the folder's summary
    kEventDictReloaded,   // {0}: the folder's summary
    kEventDictProblem,    // {0}: the problem
    kEventRequestFailed,  // {0}: what went wrong
    kEventLogUnwritable,  // {0}: path, {1}: the system's reason
    kEventsNotShown,      // {0}: how many
    kEventsLost,          // {0}: how many
    kArgGame,             // {0}: why the name cannot be a game's
    // History, corrections and sharing (mirelo-server --data, --export, --import)
    kServerArgData,
    kServerArgHistoryRows,
    kServerArgShare,        // {0}: the option
    kServerArgShareGame,    // {0}: the name, {1}: why (English)
    kServerArgShareFormat,  // {0}: the file
    kShareCannotRead,       // {0}: path, {1}: the system's reason
    kShareCannotWrite,      // {0}: path, {1}: the reason
    kShareTooLarge,         // {0}: path, {1}: the limit in MB
    kShareNotText,          // {0}: path
    kShareNotJson,          // {0}: path
    kShareSkipped,          // {0}: where, {1}: why
    kShareSkippedMore,      // {0}: how many more
    kShareLineBreak,
    kShareNotString,
    kShareLinesDiffer,  // {0}: the source's lines, {1}: the translation's
    kShareRegex,
    kShareRegexCount,  // {0}: path, {1}: how many
    kShareNoTranslation,
    kServerArgShareFormatName,
    kShareImported,        // {0}: entries, {1}: the corrections file
    kShareNothing,         // {0}: path
    kShareExported,        // {0}: corrections, {1}: history lines, {2}: path
    kShareNoHistory,       // {0}: path, {1}: why
    kCorrectionsTooLarge,  // {0}: path
    kHistoryUnavailable,   // {0}: path, {1}: the reason
    kHistoryWriteFailed,   // {0}: SQLite's reason
    kHistoryDropped,       // {0}: how many
    kSaveCannotLock,       // {0}: path, {1}: the system's reason
    kHistoryLinesLost,     // {0}: how many, {1}: SQLite's reason
    kServerArgHistoryBytes,
    kHistoryReadFailed,  // {0}: SQLite's reason
    kHistoryNotOurs,     // {0}: path

    kCount
};

inline constexpr std::size_t kMessageCount = static_cast<std::size_t>(Msg::kCount);

enum class Language { kEnglish, kKorean };

struct MessageEntry {
    Msg id;
    const char* text;
};

// True when `table` holds every identifier once, in order, each with a text.
template <std::size_t N>
constexpr bool IsComplete(const MessageEntry (&table)[N]) {
    if (N != kMessageCount) return false;
    for (std::size_t i = 0; i < N; ++i)
        if (table[i].id != static_cast<Msg>(i) || table[i].text == nullptr ||
            table[i].text[0] == '\0')
            return false;
    return true;
}

// The tables, indexed by identifier.
const MessageEntry* EnglishMessages();
const MessageEntry* KoreanMessages();

// Korean when the user's interface language is Korean, English for any other.
Language LanguageOfUi(LANGID ui);

// The language `--lang ko|en` (or `--lang=ko`) among `argv` names, else the interface
// language's. False when --lang is given without ko or en.
bool ChooseLanguage(const std::vector<std::wstring>& argv, Language& language);

// The language of every text below; set once at start.
void SetLanguage(Language language);
Language CurrentLanguage();

const char* Text(Msg id);
const char* TextIn(Language language, Msg id);
// The text with {0}, {1}, ... replaced by `args`; a placeholder without an argument stays.
std::string Format(Msg id, std::initializer_list<std::string_view> args = {});
std::string FormatText(std::string_view text, std::initializer_list<std::string_view> args);

// The system's description of an error code, in the user's interface language, as UTF-8.
std::string SystemMessage(DWORD code);

}  // namespace programs

// Behaviour script of the stand-in engine, read from standin.txt in its data folder.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace standin {

enum class Mode { Demo, Scripted };
enum class Otherwise { Echo, Null };

// What a scripted fault does: the exception a faulty engine runs into (Read, Write and
// Execute are access violations), one it raises and handles itself before going on as
// usual (Handled), never returning (Hang), or ending its whole process from inside the call
// (Exit), as an engine that has corrupted its heap eventually does.
enum class Fault {
    Read,
    Write,
    Execute,
    Divide,
    Illegal,
    Privileged,
    Overflow,
    Breakpoint,
    Cxx,
    Handled,
    Hang,
    Exit
};
std::optional<Fault> ParseFault(const std::string& name);
std::string FaultName(Fault fault);

// What one exact input gives. Exactly one of the forms is set.
struct Answer {
    // Unterminated: a few letters that run into an unreadable page with no terminator.
    enum class Kind { Text, Null, Oversize, Unterminated } kind = Kind::Text;
    std::string text;    // Kind::Text
    std::size_t size{};  // Kind::Oversize
};

struct Script {
    Mode mode = Mode::Demo;
    std::string logName;  // empty: no call log
    std::map<std::string, Answer> answers;
    std::map<std::string, unsigned> delays;
    std::optional<unsigned> delayAll;
    std::map<std::string, unsigned> burns;  // microseconds of this thread's CPU time
    std::optional<unsigned> burnAll;
    Otherwise otherwise = Otherwise::Echo;
    std::map<std::string, Fault> translateFaults;  // by input
    std::optional<Fault> translateFaultAll;        // inputs with no rule of their own
    std::map<std::string, Fault> freeFaults;       // by the input whose result is being freed
    std::optional<Fault> initFault;
    std::optional<Fault> stopFault;
};

struct ParseResult {
    Script script;
    int errorLine = 0;  // 1-based line of the first malformed line, 0 if none
    std::string error;
};

// Malformed lines are skipped (the rest still applies) and the first one is reported.
ParseResult ParseScript(const std::string& text);

// "-" is the empty string; otherwise an even number of hex digits.
std::optional<std::string> DecodeHex(const std::string& hex);
std::string EncodeHex(const std::string& bytes);  // empty gives "-"

// Largest oversize answer the stand-in agrees to build.
inline constexpr std::size_t kMaxOversize = 64u << 20;

// Longest CPU burn one call agrees to, in microseconds.
inline constexpr unsigned kMaxBurnUs = 600000000;

// Exit code of a process ended by Fault::Exit: the status of a corrupted heap.
inline constexpr unsigned kExitFaultCode = 0xC0000374;

}  // namespace standin

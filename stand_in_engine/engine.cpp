// A stand-in for the outside translation engine: honours its call contract, checks the
// caller's side of it, and behaves as standin.txt in its data folder says.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "demo.h"
#include "faults.h"
#include "script.h"

using standin::Answer;
using standin::EncodeHex;
using standin::Fault;
using standin::Script;

namespace {

// A result handed out and not yet freed.
struct Result {
    std::size_t size;                // bytes to poison when it is freed
    bool pageEnd;                    // ends a page of its own (Answer::Kind::Unterminated)
    std::optional<Fault> freeFault;  // what freeing it runs into
};

void Release(const char* p, const Result& r) {
    if (!r.pageEnd) return std::free(const_cast<char*>(p));
    MEMORY_BASIC_INFORMATION m;
    if (VirtualQuery(p, &m, sizeof m)) VirtualFree(m.AllocationBase, 0, MEM_RELEASE);
}

struct EngineState {
    std::mutex lock;
    Script script;
    std::string logPath;                 // empty: no call log
    std::map<const char*, Result> live;  // results handed out and not yet freed

    ~EngineState() {
        for (auto& [p, r] : live) Release(p, r);
    }
};

void LoadScript(EngineState& s, const std::string& dataPath);

// Until J2K_InitializeEx names the data folder, take the Dat folder beside this library, so
// that calls made without an initialisation (a stop after a rejected load) are logged too.
std::string DefaultDataPath() {
    HMODULE self = nullptr;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&DefaultDataPath), &self) ||
        GetModuleFileNameA(self, path, MAX_PATH) == 0) {
        return "";
    }
    std::string folder = path;
    return folder.substr(0, folder.find_last_of("\\/")) + "\\Dat";
}

EngineState& State() {
    static EngineState& state = []() -> EngineState& {
        static EngineState s;
        LoadScript(s, DefaultDataPath());
        return s;
    }();
    return state;
}

std::string Pointer(const void* p) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(reinterpret_cast<UINT_PTR>(p)));
    return buf;
}

// Opened per line so a reader never waits for us and a crash loses nothing.
void LogLocked(EngineState& s, const std::string& line) {
    if (s.logPath.empty()) return;
    FILE* f = std::fopen(s.logPath.c_str(), "ab");
    if (!f) return;
    std::fputs(line.c_str(), f);
    std::fputc('\n', f);
    std::fclose(f);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
    return folder + "\\" + name;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return true;
}

// Letters and digits only, so no clean-up filter or marker decoder has anything to act on.
std::string OversizeText(std::size_t n) {
    static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = alphabet[i % (sizeof alphabet - 1)];
    return s;
}

// `text` with no terminator, in the last bytes of a page that a no-access page follows.
char* PageEndText(const std::string& text) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize;
    auto* base = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE, PAGE_NOACCESS));
    if (!base) return nullptr;
    if (!VirtualAlloc(base, page, MEM_COMMIT, PAGE_READWRITE) ||
        !VirtualAlloc(base + page, page, MEM_COMMIT, PAGE_NOACCESS)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    char* p = base + page - text.size();
    std::memcpy(p, text.data(), text.size());
    return p;
}

// This thread's CPU time in microseconds, or nullopt where the system does not say.
std::optional<unsigned long long> ThreadCpuUs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return std::nullopt;
    auto ticks = [](const FILETIME& f) {
        return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10;
}

// Spins until this thread has used `us` microseconds of CPU: unlike a sleep, it holds a core,
// so it shows how lines spread over cores. Without thread times, wall time stands in.
void BurnCpu(unsigned us) {
    const auto start = ThreadCpuUs();
    LARGE_INTEGER frequency, t0, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    for (;;) {
        // Spins a little between looks: under Wine each look is a call to another process,
        // whose time would not count for this thread.
        for (int i = 0; i < 50000; ++i) asm volatile("" ::: "memory");
        if (start) {
            const auto used = ThreadCpuUs();
            if (used && *used - *start >= us) return;
        } else {
            QueryPerformanceCounter(&now);
            if (static_cast<unsigned long long>(now.QuadPart - t0.QuadPart) * 1000000 /
                    static_cast<unsigned long long>(frequency.QuadPart) >=
                us)
                return;
        }
    }
}

std::string FaultNote(std::optional<Fault> fault) {
    return fault ? " fault=" + standin::FaultName(*fault) : "";
}

// Runs the work of one call, which logs it and may ask for a fault, and raises that fault
// only once the work's locals (the lock, strings) are gone: a fault holds and leaks nothing.
template <class R, class Work>
R ThenFault(Work work) {
    std::optional<Fault> fault;
    const R result = work(fault);
    if (fault) standin::RaiseFault(*fault);
    return result;
}

standin::ParseResult ReadScript(const std::string& path) {
    standin::ParseResult parsed;
    std::string text;
    if (!path.empty() && ReadWholeFile(JoinPath(path, "standin.txt"), text))
        parsed = standin::ParseScript(text);
    return parsed;
}

void ApplyScript(EngineState& s, const standin::ParseResult& parsed, const std::string& dataPath) {
    s.script = parsed.script;
    s.logPath = s.script.logName.empty() ? "" : JoinPath(dataPath, s.script.logName);
}

void LoadScript(EngineState& s, const std::string& dataPath) {
    ApplyScript(s, ReadScript(dataPath), dataPath);
}

int InitializeEx(const char* key, const char* dataPath, std::optional<Fault>& fault) {
    // Both arguments are copied at once: the caller's buffers die when this returns.
    const std::string path = dataPath ? dataPath : "";
    const std::string keyText = key ? key : "null";
    const standin::ParseResult parsed = ReadScript(path);

    EngineState& s = State();
    std::lock_guard guard(s.lock);
    ApplyScript(s, parsed, path);
    fault = s.script.initFault;
    LogLocked(s, "init key=" + keyText + " path=" + (dataPath ? EncodeHex(path) : "null") +
                     FaultNote(fault));
    if (parsed.errorLine != 0) {
        std::string msg = "stand-in engine: standin.txt line " + std::to_string(parsed.errorLine) +
                          ": " + parsed.error + "\n";
        OutputDebugStringA(msg.c_str());
        return 0;
    }
    return 1;
}

char* TranslateMMNT(int arg, const char* text, std::optional<Fault>& fault) {
    EngineState& s = State();
    if (!text) {
        std::lock_guard guard(s.lock);
        LogLocked(s, "translate arg=" + std::to_string(arg) + " in=null out=null");
        return nullptr;
    }
    const std::string in = text;  // never keep the caller's pointer

    unsigned delay = 0;
    unsigned burn = 0;
    Answer answer;
    bool demo = false;
    std::optional<Fault> freeFault;
    {
        std::lock_guard guard(s.lock);
        const Script& sc = s.script;
        if (auto f = sc.translateFaults.find(in); f != sc.translateFaults.end())
            fault = f->second;
        else if (!sc.answers.contains(in))
            fault = sc.translateFaultAll;
        if (fault && *fault != Fault::Handled) {
            LogLocked(s, "translate arg=" + std::to_string(arg) + " in=" + EncodeHex(in) +
                             FaultNote(fault));
            return nullptr;
        }
        if (auto f = sc.freeFaults.find(in); f != sc.freeFaults.end()) freeFault = f->second;
        if (auto d = sc.delays.find(in); d != sc.delays.end())
            delay = d->second;
        else if (sc.delayAll)
            delay = *sc.delayAll;
        if (auto b = sc.burns.find(in); b != sc.burns.end())
            burn = b->second;
        else if (sc.burnAll)
            burn = *sc.burnAll;
        if (auto a = sc.answers.find(in); a != sc.answers.end()) {
            answer = a->second;
        } else if (sc.mode == standin::Mode::Demo) {
            demo = true;
        } else if (sc.otherwise == standin::Otherwise::Null) {
            answer.kind = Answer::Kind::Null;
        } else {
            answer.text = in;
        }
    }
    // Sleep unlocked, so a stop or free from another thread is not held up too.
    if (delay) Sleep(delay);
    if (burn) BurnCpu(burn);

    std::string out;
    if (demo)
        out = standin::DemoTranslate(in);
    else if (answer.kind == Answer::Kind::Oversize || answer.kind == Answer::Kind::Unterminated)
        out = OversizeText(answer.kind == Answer::Kind::Oversize ? answer.size : 16);
    else
        out = answer.text;

    char* result = nullptr;
    const bool pageEnd = answer.kind == Answer::Kind::Unterminated;
    if (pageEnd) {
        result = PageEndText(out);
    } else if (demo || answer.kind != Answer::Kind::Null) {
        result = static_cast<char*>(std::malloc(out.size() + 1));
        if (result) std::memcpy(result, out.c_str(), out.size() + 1);
    }

    std::lock_guard guard(s.lock);
    if (result) s.live[result] = Result{pageEnd ? out.size() : out.size() + 1, pageEnd, freeFault};
    LogLocked(s, "translate arg=" + std::to_string(arg) + " in=" + EncodeHex(in) +
                     " out=" + (result ? Pointer(result) : "null") + FaultNote(fault));
    return result;
}

int FreeMem(char* p, std::optional<Fault>& fault) {
    EngineState& s = State();
    std::lock_guard guard(s.lock);
    auto it = s.live.find(p);
    if (it == s.live.end()) {
        // Unknown, already freed or null: leave it alone and say so.
        LogLocked(s, "violation free ptr=" + Pointer(p));
        return 0;
    }
    fault = it->second.freeFault;
    const std::string line = "free ptr=" + Pointer(p) + FaultNote(fault);
    // Poisoned so that a caller still reading it sees garbage rather than the old text.
    std::memset(p, 0xDD, it->second.size);
    Release(p, it->second);
    s.live.erase(it);
    LogLocked(s, line);
    return 1;
}

int StopTranslation(int arg, std::optional<Fault>& fault) {
    EngineState& s = State();
    std::lock_guard guard(s.lock);
    fault = s.script.stopFault;
    LogLocked(s, "stop arg=" + std::to_string(arg) +
                     " outstanding=" + std::to_string(s.live.size()) + FaultNote(fault));
    return 1;
}

}  // namespace

extern "C" int __stdcall J2K_InitializeEx(const char* key, const char* dataPath) {
    return ThenFault<int>([&](auto& fault) { return InitializeEx(key, dataPath, fault); });
}

extern "C" char* __stdcall J2K_TranslateMMNT(int arg, const char* text) {
    return ThenFault<char*>([&](auto& fault) { return TranslateMMNT(arg, text, fault); });
}

extern "C" int __stdcall J2K_FreeMem(char* p) {
    return ThenFault<int>([&](auto& fault) { return FreeMem(p, fault); });
}

extern "C" int __stdcall J2K_StopTranslation(int arg) {
    return ThenFault<int>([&](auto& fault) { return StopTranslation(arg, fault); });
}

extern "C" int __stdcall J2K_Terminate(void) {
    EngineState& s = State();
    std::lock_guard guard(s.lock);
    LogLocked(s, "terminate");
    return 1;
}

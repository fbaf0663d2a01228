// A stand-in for Textractor, for the extension's tests: it loads "Mirelo Translate.dll" the way
// Textractor does (a copy named .xdll, loaded only if its bytes hold "OnNewSentence"), hands
// every sentence over in a process-heap buffer with the info array, frees what comes back with
// HeapFree, and checks that what comes back is a live process-heap block of the right length.
//
// Usage: textractor_host SCENARIO EXTENSION_DLL SERVER_DIR ENGINE_DIR WORK_DIR
// Scenarios: contract, threads, restart, reload, bad, noengine, strange. Exit code 0 when every
// check held. Built 32- and 64-bit from this one source, with Win32 threads only.

#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "mirelo_version.h"
#include "textractor_side.h"

namespace {

using textractor_side::FreePort;
using textractor_side::InfoForExtension;
using textractor_side::OnNewSentenceFn;
using textractor_side::StartServerInJob;
using textractor_side::WindowsPath;

const std::wstring kSeparator = L"\x200b \n";
// The stand-in engine's demo mode with clean-up options 11 (see stand_in_engine/README.md).
const std::wstring kHero = L"勇者は魔王を倒した。";
const std::wstring kHeroKo = L"용사는 마왕을 쓰러뜨렸다.";
const std::wstring kRefused = L"翻訳不可";  // the engine gives nothing for it
const std::wstring kSlow = L"遅延";         // the engine answers it after 6 s

std::wstring LoadLine(int i, int j) {
    return L"試験" + std::to_wstring(i) + L"の" + std::to_wstring(j);
}
// The demo engine keeps a kanji it has no word for as Hanja, in the older form CP949 holds.
std::wstring LoadLineKo(int i, int j) {
    return L"試驗" + std::to_wstring(i) + L"의 " + std::to_wstring(j);
}

// The extension's stated bounds: 8 s of waiting for a server it starts, then 3.4 s per call.
constexpr DWORD kWaitBoundMs = 8000 + 3500;

int g_failures = 0;

std::string Narrow(const std::wstring& w) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr,
                                        0, nullptr, nullptr);
    std::string s(n, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), s.data(), n, nullptr,
                          nullptr);
    return s;
}

std::string Printable(const std::wstring& w) {
    std::string s = Narrow(w.size() > 200 ? w.substr(0, 200) + L"..." : w);
    std::string out;
    for (char c : s) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

#define CHECK(cond, ...)                                        \
    do {                                                        \
        if (!(cond)) {                                          \
            ++g_failures;                                       \
            std::printf("FAIL line %d: %s: ", __LINE__, #cond); \
            std::printf(__VA_ARGS__);                           \
            std::printf("\n");                                  \
            std::fflush(stdout);                                \
        }                                                       \
    } while (0)

// What the extension said in the console (text number 0).
SRWLOCK g_consoleLock = SRWLOCK_INIT;
std::vector<std::wstring> g_console;

void AddSentence(int64_t number, const wchar_t* sentence) {
    ::AcquireSRWLockExclusive(&g_consoleLock);
    if (number == 0 && sentence) g_console.push_back(sentence);
    ::ReleaseSRWLockExclusive(&g_consoleLock);
}

std::vector<std::wstring> Console() {
    ::AcquireSRWLockExclusive(&g_consoleLock);
    std::vector<std::wstring> copy = g_console;
    ::ReleaseSRWLockExclusive(&g_consoleLock);
    return copy;
}

size_t ConsoleCount(const std::wstring& part) {
    size_t n = 0;
    for (const std::wstring& line : Console()) n += line.find(part) != std::wstring::npos;
    return n;
}

bool HasHangul(const std::wstring& s) {
    for (wchar_t c : s)
        if (c >= 0xAC00 && c <= 0xD7A3) return true;
    return false;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    ::CloseHandle(f);
    return ok;
}

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD n = 0;
    while (::ReadFile(f, buffer, sizeof(buffer), &n, nullptr) && n) bytes.append(buffer, n);
    ::CloseHandle(f);
    return bytes;
}

struct Setup {
    std::wstring dll, serverDir, engineDir, work;
    unsigned short port = 0;
    std::wstring xdll;
    std::wstring ini;
};

// The ini in UTF-8, with the port and server folder of this run first.
void WriteIni(const Setup& s, const std::wstring& more) {
    const std::wstring text = L"[Mirelo]\r\nport=" + std::to_wstring(s.port) +
                              L"\r\nserver_folder=" + s.serverDir + L"\r\noptions=11\r\n" + more;
    CHECK(WriteBytes(s.ini, Narrow(text)), "cannot write %s", Narrow(s.ini).c_str());
}

// Textractor's steps: copy X.dll to X.xdll, look for the export's name in its bytes, load it.
HMODULE LoadExtension(const Setup& s, OnNewSentenceFn& fn) {
    CHECK(::CopyFileW(s.dll.c_str(), s.xdll.c_str(), FALSE), "cannot copy to .xdll");
    const std::string bytes = ReadBytes(s.xdll);
    CHECK(bytes.find("OnNewSentence") != std::string::npos, "no OnNewSentence in the file's bytes");
    HMODULE module = ::LoadLibraryW(s.xdll.c_str());
    CHECK(module != nullptr, "LoadLibraryW failed: %lu", ::GetLastError());
    fn = module ? reinterpret_cast<OnNewSentenceFn>(
                      reinterpret_cast<void*>(::GetProcAddress(module, "OnNewSentence")))
                : nullptr;
    CHECK(fn != nullptr, "no OnNewSentence export");
    return module;
}

struct Keys {
    int64_t number = 2;
    int64_t select = 1;
    bool withNumber = true;
    bool withSelect = true;
    bool withCallback = true;
    DWORD pid = 0;  // the hooked process; 0: this one
};

// One sentence through the extension as Textractor hands it over; the text that came back.
std::wstring Call(OnNewSentenceFn fn, const std::wstring& sentence, const Keys& k = {},
                  DWORD* ms = nullptr) {
    std::vector<InfoForExtension> info;
    if (k.withSelect) info.push_back({"current select", k.select});
    if (k.withNumber) info.push_back({"text number", k.number});
    info.push_back({"process id", static_cast<int64_t>(k.pid ? k.pid : ::GetCurrentProcessId())});
    info.push_back({"text name", static_cast<int64_t>(reinterpret_cast<intptr_t>(L"Test"))});
    if (k.withCallback)
        info.push_back({"void (*AddSentence)(int64_t number, const wchar_t* sentence)",
                        static_cast<int64_t>(reinterpret_cast<intptr_t>(&AddSentence))});
    info.push_back({nullptr, 0});

    HANDLE heap = ::GetProcessHeap();
    auto* buffer =
        static_cast<wchar_t*>(::HeapAlloc(heap, 0, (sentence.size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(buffer, sentence.c_str(), sentence.size() + 1);
    const ULONGLONG begin = ::GetTickCount64();
    wchar_t* result = fn(buffer, info.data());
    if (ms) *ms = static_cast<DWORD>(::GetTickCount64() - begin);
    if (!result) {
        CHECK(false, "null returned for \"%s\"", Printable(sentence).c_str());
        return L"";
    }
    CHECK(::HeapValidate(heap, 0, result), "the returned buffer is no live process-heap block");
    const std::wstring out(result);
    const SIZE_T size = ::HeapSize(heap, 0, result);
    CHECK(size != static_cast<SIZE_T>(-1) && size >= (out.size() + 1) * sizeof(wchar_t),
          "the returned block holds %lu bytes for %lu characters", static_cast<unsigned long>(size),
          static_cast<unsigned long>(out.size()));
    ::HeapFree(heap, 0, result);
    return out;
}

// Calls until the sentence comes back translated as `expected` (or time runs out).
bool WaitFor(OnNewSentenceFn fn, const std::wstring& sentence, const std::wstring& expected,
             DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (::GetTickCount64() < end) {
        if (Call(fn, sentence) == expected) return true;
        ::Sleep(100);
    }
    return false;
}

// The kind of a handle ("Event", "Thread", ...), for saying which ones were left behind.
std::wstring HandleType(HANDLE h) {
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    alignas(8) unsigned char buffer[1024];
    ULONG size = 0;
    if (!query || query(h, 2 /* ObjectTypeInformation */, buffer, sizeof(buffer), &size) != 0)
        return L"?";
    struct Name {
        USHORT length;
        USHORT maximum;
        wchar_t* text;
    };
    const auto* name = reinterpret_cast<const Name*>(buffer);
    return std::wstring(name->text, name->length / sizeof(wchar_t));
}

// Process-wide counts the unload test compares.
struct Probe {
    std::vector<uintptr_t> open;
    size_t handles = 0;
    size_t threads = 0;
    size_t heapBytes = 0;
};

Probe Measure() {
    Probe p;
    // GetProcessHandleCount answers 0 under Wine: probe the handle range instead.
    for (uintptr_t h = 4; h < 0x8000; h += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags)) p.open.push_back(h);
    }
    p.handles = p.open.size();
    {}
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te{};
    te.dwSize = sizeof(te);
    for (BOOL ok = ::Thread32First(snap, &te); ok; ok = ::Thread32Next(snap, &te))
        p.threads += te.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snap);
    HANDLE heaps[64];
    const DWORD n = ::GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < n && i < 64; ++i) {
        if (!::HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY e{};
        while (::HeapWalk(heaps[i], &e))
            if (e.wFlags & PROCESS_HEAP_ENTRY_BUSY) p.heapBytes += e.cbData;
        ::HeapUnlock(heaps[i]);
    }
    return p;
}

// The mirelo-server that the extension started: this process's child of that name; 0 if none.
DWORD ServerChild() {
    DWORD pid = 0;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = ::Process32FirstW(snap, &pe); ok; ok = ::Process32NextW(snap, &pe))
        if (_wcsicmp(pe.szExeFile, L"mirelo-server.exe") == 0 &&
            pe.th32ParentProcessID == ::GetCurrentProcessId())
            pid = pe.th32ProcessID;
    ::CloseHandle(snap);
    return pid;
}

bool KillServerChild() {
    bool killed = false;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = ::Process32FirstW(snap, &pe); ok; ok = ::Process32NextW(snap, &pe)) {
        if (_wcsicmp(pe.szExeFile, L"mirelo-server.exe") != 0 ||
            pe.th32ParentProcessID != ::GetCurrentProcessId())
            continue;
        HANDLE p = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pe.th32ProcessID);
        if (p && ::TerminateProcess(p, 1)) {
            ::WaitForSingleObject(p, 5000);
            killed = true;
        }
        if (p) ::CloseHandle(p);
    }
    ::CloseHandle(snap);
    return killed;
}

bool WaitListening(unsigned short port, DWORD timeoutMs) {
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    bool up = false;
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (!up && ::GetTickCount64() < end) {
        SOCKET c = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        up = ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        ::closesocket(c);
        if (!up) ::Sleep(100);
    }
    ::WSACleanup();
    return up;
}

bool WaitUnloaded(const Setup& s, DWORD timeoutMs) {
    const std::wstring name = s.xdll.substr(s.xdll.find_last_of(L'\\') + 1);
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    while (::GetModuleHandleW(name.c_str())) {
        if (::GetTickCount64() > end) return false;
        ::Sleep(5);
    }
    return true;
}

// Something on a port, one thread per connection, one request per connection. kOther answers
// every request as another program's JSON; the others answer /status as a ready
// mirelo-server (from the folder C:\elsewhere) and answer /translate in their own way.
struct FakeServer {
    enum Mode {
        kOther,
        kSilent,       // the connection is held 5 s, then closed
        kGarbage,      // bytes that are not HTTP, to every request
        kTrickleHead,  // the head a byte every 200 ms
        kTrickleBody,  // the head at once, then the body a byte every 200 ms
        kReset,        // the connection reset
        kRedirect,     // 302 to /status
        kAnswer,       // every line answered "번역"
    };
    Mode mode = kOther;
    volatile LONG requests = 0;
    volatile LONG translations = 0;
    volatile LONG named = 0;     // of those, naming this host's executable as the game
    volatile LONG namedCmd = 0;  // of those, naming cmd.exe as the game
    volatile LONG problems = 0;  // /status lists a dictionary problem
    volatile LONG stopping = 0;
    volatile LONG open = 0;
    SOCKET listener = INVALID_SOCKET;
    unsigned short port = 0;
    HANDLE thread = nullptr;

    struct Conn {
        FakeServer* self;
        SOCKET socket;
    };

    // False once the server is stopping.
    bool Pause(DWORD ms) {
        for (DWORD t = 0; t < ms; t += 50) {
            if (stopping) return false;
            ::Sleep(50);
        }
        return true;
    }

    void Trickle(SOCKET c, const std::string& bytes) {
        for (char b : bytes)
            if (!Pause(200) || ::send(c, &b, 1, 0) != 1) return;
    }

    std::string StatusBody() const {
        if (mode == kOther) return "{\"version\": \"2.0\", \"engine_ready\": true}";
        return std::string(
                   "{\"server\": \"mirelo-server\", \"engine_ready\": true, \"plugin\": "
                   "\"ready\", \"folder\": \"C:\\\\elsewhere\", \"dictionary_problems\": ") +
               (problems ? "[{\"file\": \"C:\\\\elsewhere\\\\MireloDict\\\\names.txt\", \"line\": "
                           "3, \"reason\": \"no tab\"}, 7]}"
                         : "[]}");
    }

    void Serve(SOCKET c) {
        char request[4096];
        const int got = ::recv(c, request, sizeof(request), 0);
        ::InterlockedIncrement(&requests);
        const bool translate = got > 14 && std::memcmp(request, "GET /translate", 14) == 0;
        if (translate) ::InterlockedIncrement(&translations);
        std::string_view line(request, translate ? static_cast<size_t>(got) : 0);
        line = line.substr(0, line.find('\r'));
        if (line.find("&game=textractor_host ") != std::string_view::npos)
            ::InterlockedIncrement(&named);
        if (line.find("&game=cmd ") != std::string_view::npos) ::InterlockedIncrement(&namedCmd);
        const std::string close = "Connection: close\r\n";
        if (mode == kGarbage) {
            const std::string junk = "\x16\x03\x01\x02\x00 not a web server\r\n\r\n";
            ::send(c, junk.data(), static_cast<int>(junk.size()), 0);
        } else if (translate && mode == kSilent) {
            Pause(5000);
        } else if (translate && mode == kTrickleHead) {
            Trickle(c, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + close +
                           "Content-Length: 2\r\n\r\nok");
        } else if (translate && mode == kTrickleBody) {
            const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + close +
                                     "Content-Length: 60\r\n\r\n";
            ::send(c, head.data(), static_cast<int>(head.size()), 0);
            Trickle(c, std::string(60, 'x'));
        } else if (translate && mode == kReset) {
            linger hard{1, 0};
            ::setsockopt(c, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                         sizeof(hard));
        } else if (translate && mode == kAnswer) {
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + close +
                                       "Content-Length: 6\r\n\r\n\xEB\xB2\x88\xEC\x97\xAD";
            ::send(c, answer.data(), static_cast<int>(answer.size()), 0);
        } else if (translate && mode == kRedirect) {
            const std::string answer =
                "HTTP/1.1 302 Found\r\nLocation: /status\r\n" + close + "Content-Length: 0\r\n\r\n";
            ::send(c, answer.data(), static_cast<int>(answer.size()), 0);
        } else {
            const std::string body = StatusBody();
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" +
                                       close + "Content-Length: " + std::to_string(body.size()) +
                                       "\r\n\r\n" + body;
            ::send(c, answer.data(), static_cast<int>(answer.size()), 0);
        }
        ::closesocket(c);
    }

    static DWORD WINAPI ConnMain(void* p) {
        auto* conn = static_cast<Conn*>(p);
        conn->self->Serve(conn->socket);
        ::InterlockedDecrement(&conn->self->open);
        delete conn;
        return 0;
    }

    static DWORD WINAPI Main(void* p) {
        auto* self = static_cast<FakeServer*>(p);
        for (;;) {
            SOCKET c = ::accept(self->listener, nullptr, nullptr);
            if (c == INVALID_SOCKET) return 0;
            ::InterlockedIncrement(&self->open);
            HANDLE t = ::CreateThread(nullptr, 0, ConnMain, new Conn{self, c}, 0, nullptr);
            if (t) ::CloseHandle(t);
        }
    }

    void Start(Mode m = kOther) {
        mode = m;
        WSADATA wsa;
        ::WSAStartup(MAKEWORD(2, 2), &wsa);
        listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof(a);
        ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        ::listen(listener, 8);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        thread = ::CreateThread(nullptr, 0, Main, this, 0, nullptr);
    }

    void Stop() {
        stopping = 1;
        ::closesocket(listener);
        ::WaitForSingleObject(thread, 5000);
        ::CloseHandle(thread);
        for (int i = 0; i < 200 && open > 0; ++i) ::Sleep(50);
        ::WSACleanup();
    }
};

// ---- Scenarios ----

void Contract(const Setup& s) {
    WriteIni(s, L"");
    OnNewSentenceFn fn = nullptr;
    HMODULE module = LoadExtension(s, fn);
    if (!fn) return;

    // The load alone starts the server, before any sentence.
    CHECK(WaitListening(s.port, 30000), "no server listened after the load");
    DWORD ms = 0;
    CHECK(Call(fn, kHero, {}, &ms) == kHero + kSeparator + kHeroKo,
          "the first sentence was not translated");
    CHECK(ms <= kWaitBoundMs, "the first sentence took %lu ms", ms);
    const std::wstring bits = sizeof(void*) == 8 ? L"(64" : L"(32";
    CHECK(ConsoleCount(L"Mirelo") >= 1 && ConsoleCount(L"" MIRELO_VERSION L" " + bits) == 1 &&
              ConsoleCount(std::to_wstring(s.port)) >= 1,
          "no first console line with the version, bitness and port");
    CHECK(ConsoleCount(L"http://127.0.0.1:" + std::to_wstring(s.port) + L"/") == 1,
          "the first console line does not name the workbench's address");
    CHECK(WaitFor(fn, kHero, kHero + kSeparator + kHeroKo, 60000),
          "never translated after the extension started the server");
    CHECK(ConsoleCount(L"mirelo-server를 시작했습니다") == 1,
          "the server's start was not said once");
    CHECK(ConsoleCount(L"mirelo-server가 준비되었습니다") == 1,
          "the server's readiness was not said once");
    for (const std::wstring& line : Console())
        CHECK(HasHangul(line), "a console line is not Korean: %s", Printable(line).c_str());

    struct Case {
        const char* what;
        std::wstring in;
        Keys keys;
        std::wstring out;
    } cases[] = {
        {"the console's own lines stay as they are", kHero, {0, 1}, kHero},
        {"the clipboard is left alone by default", kHero, {1, 1}, kHero},
        {"a thread not selected is left alone by default", kHero, {2, 0}, kHero},
        {"lines are translated one by one and joined back, an emoji kept in place",
         kHero + L"\n勇者😀魔王\n",
         {},
         kHero + L"\n勇者😀魔王\n" + kSeparator + kHeroKo + L"\n용사😀마왕\n"},
        {"a + is sent as itself, not as a space",
         L"勇者+魔王",
         {},
         L"勇者+魔王" + kSeparator + L"용사+마왕"},
        {"a CRLF ending is kept",
         L"勇者\r\n魔王",
         {},
         L"勇者\r\n魔王" + kSeparator + L"용사\r\n마왕"},
        {"a line the engine refuses stays as it was, the others are translated",
         kRefused + L"\n" + kHero,
         {},
         kRefused + L"\n" + kHero + kSeparator + kRefused + L"\n" + kHeroKo},
        {"a sentence no line of which was translated is left alone", kRefused, {}, kRefused},
    };
    for (const Case& c : cases) {
        const std::wstring got = Call(fn, c.in, c.keys);
        CHECK(got == c.out, "%s: got \"%s\"", c.what, Printable(got).c_str());
    }
    CHECK(ConsoleCount(L"원문 그대로") == 1, "an untranslated line was not said exactly once");

    // The ini is read again when it changes: replace mode, the clipboard and every thread,
    // saved as UTF-16 this time, with bad values before the good ones.
    ::Sleep(1100);
    std::wstring text = L"\xFEFF[Mirelo]\r\nport=" + std::to_wstring(s.port) +
                        L"\r\nserver_folder=" + s.serverDir +
                        L"\r\ntranslation=sideways\r\ntranslation=replace\r\nclipboard=1"
                        L"\r\nselected_thread_only=0\r\nselected_thread_only=sometimes\r\n"
                        L"colour=blue\r\nnot a setting\r\noptions=11\r\n";
    CHECK(WriteBytes(s.ini, std::string(reinterpret_cast<const char*>(text.data()),
                                        text.size() * sizeof(wchar_t))),
          "cannot write the ini");
    bool replaced = false;
    for (int i = 0; i < 40 && !replaced; ++i) {
        replaced = Call(fn, kHero, {1, 1}) == kHeroKo;
        if (!replaced) ::Sleep(100);
    }
    CHECK(replaced, "replace mode or the clipboard did not take effect");
    CHECK(ConsoleCount(L"다시 읽었습니다") == 1, "the re-read was not said");
    struct Said {
        const wchar_t* part;
        size_t times;
    } said[] = {
        {L"4번째 줄: translation의 값 \"sideways\"", 1},
        {L"8번째 줄: selected_thread_only의 값 \"sometimes\"", 1},
        {L"9번째 줄: 알 수 없는 항목 colour", 1},
        {L"10번째 줄은 \"이름=값\" 꼴이 아니어서", 1},
    };
    for (const Said& w : said)
        CHECK(ConsoleCount(w.part) == w.times, "not said once: %s", Narrow(w.part).c_str());
    // The bad value fell back to the default (1), which the line before it had turned off.
    CHECK(Call(fn, kHero, {2, 0}) == kHero, "a bad selected_thread_only did not fall back to 1");

    // A file that is neither UTF-8 nor UTF-16: every default, said once.
    ::Sleep(1100);
    CHECK(WriteBytes(s.ini, "port=\xff\xfe\xfd\r\n\x81"), "cannot write the ini");
    ::Sleep(1100);
    Call(fn, kHero);
    CHECK(ConsoleCount(L"Mirelo Translate.ini를 읽을 수 없습니다") == 1,
          "an unreadable ini was not said");

    // Another program holds the port: the extension says so once and starts no server there.
    FakeServer fake;
    fake.Start();
    ::Sleep(1100);
    Setup other = s;
    other.port = fake.port;
    WriteIni(other, L"");
    const ULONGLONG end = ::GetTickCount64() + 10000;
    while (::GetTickCount64() < end && ConsoleCount(L"Mirelo가 아닌 다른 프로그램") == 0) {
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "a sentence was changed with no Mirelo server");
        CHECK(ms < 1000, "a call took %lu ms while the port was not Mirelo's", ms);
        ::Sleep(100);
    }
    // 6.5 s more of sentences: said once only, and looked at again once every 3 s, no more.
    const LONG looks = fake.requests;
    const ULONGLONG more = ::GetTickCount64() + 6500;
    while (::GetTickCount64() < more) {
        Call(fn, kHero);
        ::Sleep(20);
    }
    CHECK(fake.requests - looks >= 1 && fake.requests - looks <= 3,
          "%ld looks at the port in 6.5 s", fake.requests - looks);
    CHECK(ConsoleCount(L"Mirelo가 아닌 다른 프로그램") == 1,
          "another program on the port was not said once");
    CHECK(ConsoleCount(L"mirelo-server를 시작했습니다") == 1,
          "a server was started on another's port");
    fake.Stop();

    // Nothing on the port and no server where the ini points: said once, with the path.
    ::Sleep(1100);
    Setup nowhere = s;
    nowhere.port = FreePort();
    nowhere.serverDir = L"no-server-here";  // relative: to the extension's folder
    WriteIni(nowhere, L"");
    const ULONGLONG until = ::GetTickCount64() + 5000;
    while (::GetTickCount64() < until) {
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "a sentence was changed with no server");
        CHECK(ms < 1000, "a call took %lu ms with no server", ms);
        ::Sleep(50);
    }
    CHECK(ConsoleCount(L"mirelo-server.exe가 없어 번역하지 않습니다: " + s.work +
                       L"\\no-server-here" + L"\\mirelo-server.exe") == 1,
          "a missing mirelo-server.exe was not said once");
    ::FreeLibrary(module);
    CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded");
}

struct ThreadJob {
    OnNewSentenceFn fn = nullptr;
    int index = 0;
    int count = 0;
    int wrong = 0;
    int untranslated = 0;
    DWORD slowest = 0;
    std::wstring firstWrong;
};

DWORD WINAPI ThreadMain(void* p) {
    auto* job = static_cast<ThreadJob*>(p);
    for (int j = 0; j < job->count; ++j) {
        const std::wstring in = LoadLine(job->index, j);
        DWORD ms = 0;
        const std::wstring out = Call(job->fn, in, {}, &ms);
        if (ms > job->slowest) job->slowest = ms;
        if (out == in) {
            ++job->untranslated;
        } else if (out != in + kSeparator + LoadLineKo(job->index, j)) {
            if (job->wrong++ == 0) job->firstWrong = in + L" -> " + out;
        }
    }
    return 0;
}

// Runs `count` threads of `each` sentences at once; the sentences that came back untranslated.
int RunJobs(OnNewSentenceFn fn, ThreadJob* jobs, int count, int first, int each, DWORD slowest) {
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i) {
        jobs[i].fn = fn;
        jobs[i].index = first + i;
        jobs[i].count = each;
        threads.push_back(::CreateThread(nullptr, 0, ThreadMain, &jobs[i], 0, nullptr));
    }
    ::WaitForMultipleObjects(count, threads.data(), TRUE, INFINITE);
    for (HANDLE t : threads) ::CloseHandle(t);
    int untranslated = 0;
    for (int i = 0; i < count; ++i) {
        const ThreadJob& j = jobs[i];
        CHECK(j.wrong == 0, "thread %d: %d sentences came back with another translation, first: %s",
              j.index, j.wrong, Printable(j.firstWrong).c_str());
        CHECK(j.slowest <= slowest, "thread %d: a call took %lu ms", j.index, j.slowest);
        untranslated += j.untranslated;
    }
    return untranslated;
}

void Threads(const Setup& s) {
    // No options: the server the extension starts cleans up both ways all the same.
    CHECK(WriteBytes(s.ini, Narrow(L"port=" + std::to_wstring(s.port) + L"\r\nserver_folder=" +
                                   s.serverDir + L"\r\n")),
          "cannot write the ini");
    OnNewSentenceFn fn = nullptr;
    HMODULE module = LoadExtension(s, fn);
    if (!fn) return;
    // From a cold start, four threads at once: every sentence waits for the server.
    ThreadJob cold[4];
    const int waited = RunJobs(fn, cold, 4, 10, 25, kWaitBoundMs);
    CHECK(waited == 0, "%d of 100 sentences from a cold start came back untranslated", waited);
    CHECK(ConsoleCount(L"--options 11") == 1, "the server was not started with --options 11");
    CHECK(Call(fn, kHero) == kHero + kSeparator + kHeroKo, "not translated with both clean-ups");
    HANDLE heap = ::GetProcessHeap();
    CHECK(::HeapValidate(heap, 0, nullptr), "the process heap is damaged before the run");
    const Probe before = Measure();
    constexpr int kThreads = 4, kEach = 2000;
    ThreadJob jobs[kThreads];
    const ULONGLONG begin = ::GetTickCount64();
    const int untranslated = RunJobs(fn, jobs, kThreads, 0, kEach, 3500);
    const ULONGLONG took = ::GetTickCount64() - begin;
    CHECK(::HeapValidate(heap, 0, nullptr), "the process heap is damaged after the run");
    const Probe after = Measure();
    CHECK(untranslated == 0, "%d of %d sentences came back untranslated", untranslated,
          kThreads * kEach);
    // Nothing of 8,000 sentences may stay behind: losing each 18-byte buffer would be 136 KB.
    // WinHTTP's own pools may settle a little.
    const long long grown = static_cast<long long>(after.heapBytes) - before.heapBytes;
    CHECK(grown < 64 * 1024, "the heaps grew by %lld bytes", grown);
    std::printf("threads: %d sentences in %llu ms, heap %+lld bytes, handles %zu -> %zu\n",
                kThreads * kEach, took, grown, before.handles, after.handles);
    ::FreeLibrary(module);
    CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded");
}

void Restart(const Setup& s) {
    WriteIni(s, L"");
    OnNewSentenceFn fn = nullptr;
    HMODULE module = LoadExtension(s, fn);
    if (!fn) return;
    CHECK(WaitFor(fn, kHero, kHero + kSeparator + kHeroKo, 60000), "never translated");
    CHECK(KillServerChild(), "no mirelo-server started by the extension was found to end");

    // Textractor keeps sending; the extension notices, starts the server again and goes on.
    DWORD slowest = 0, slowWhileDown = 0;
    int downCalls = 0;
    bool back = false;
    const ULONGLONG end = ::GetTickCount64() + 60000;
    for (int j = 0; ::GetTickCount64() < end && !back; ++j) {
        const std::wstring in = LoadLine(7, j);
        DWORD ms = 0;
        const std::wstring out = Call(fn, in, {}, &ms);
        if (ms > slowest) slowest = ms;
        back = out == in + kSeparator + LoadLineKo(7, j);
        if (!back) {
            CHECK(out == in, "an untranslated sentence was changed: %s", Printable(out).c_str());
            // The first call after the kill may wait on the dead connection; later ones not.
            if (downCalls++ > 0 && ms > slowWhileDown) slowWhileDown = ms;
            ::Sleep(50);
        }
    }
    CHECK(back, "translation never resumed after the server was killed");
    // The extension starts a server at once; the sentence that found it gone waits for it.
    CHECK(downCalls == 0, "%d sentences passed untranslated while the server was restarted",
          downCalls);
    CHECK(slowest <= kWaitBoundMs, "a call took %lu ms", slowest);
    // Nothing was lost to the player, so at most a notice and its end, in pairs.
    for (int i = 0;
         i < 70 && ConsoleCount(L"연결이 끊겼습니다") != ConsoleCount(L"다시 연결했습니다"); ++i) {
        Call(fn, kHero);
        ::Sleep(100);
    }
    CHECK(ConsoleCount(L"연결이 끊겼습니다") <= 1 &&
              ConsoleCount(L"연결이 끊겼습니다") == ConsoleCount(L"다시 연결했습니다"),
          "lost %zu times, back %zu times", ConsoleCount(L"연결이 끊겼습니다"),
          ConsoleCount(L"다시 연결했습니다"));
    CHECK(ConsoleCount(L"mirelo-server를 시작했습니다") == 2, "the server was not started again");

    // New --options in the ini: the server this extension started is started again with them
    // (options 10 keep the engine's doubled spaces after 는 and 을, see the README's demo).
    ::Sleep(1100);
    WriteIni(s, L"options=10\r\n");
    CHECK(WaitFor(fn, kHero, kHero + kSeparator + L"용사는  마왕을  쓰러뜨렸다.", 60000),
          "the new options never took effect");
    CHECK(ConsoleCount(L"mirelo-server를 시작했습니다") == 3, "the server was not started anew");
    std::printf("restart: %d calls while down, slowest %lu ms (%lu ms once down)\n", downCalls,
                slowest, slowWhileDown);
    ::FreeLibrary(module);
    CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded");
    CHECK(ServerChild() == 0, "the server the extension started outlived its unload");
    CHECK(ConsoleCount(L"설정이 바뀌어") == 1,
          "the server's end for new options was not said once");

    // Textractor closed with the extension loaded: the server it started ends with it.
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring childWork = s.work + L"\\child";
    std::wstring command = L"\"" + std::wstring(self) + L"\" child \"" + s.dll + L"\" \"" +
                           s.serverDir + L"\" \"" + s.engineDir + L"\" \"" + childWork + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    CHECK(::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                           &pi),
          "cannot start the child host");
    if (!pi.hProcess) return;
    CHECK(::WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0,
          "the child host never ended");
    DWORD code = 1;
    ::GetExitCodeProcess(pi.hProcess, &code);
    CHECK(code == 0, "the child host failed (%lu)", code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    const DWORD pid = static_cast<DWORD>(std::atol(ReadBytes(childWork + L"\\server.pid").c_str()));
    CHECK(pid != 0, "the child host named no server");
    HANDLE server = pid ? ::OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    if (server) {
        CHECK(::WaitForSingleObject(server, 10000) == WAIT_OBJECT_0,
              "the server outlived the process that started it");
        ::CloseHandle(server);
    }
}

// A visible dialog box of a mirelo-server process (a worker asking the player), or null.
struct BoxSearch {
    std::vector<DWORD> servers;
    HWND found = nullptr;
};

BOOL CALLBACK FindBox(HWND h, LPARAM p) {
    auto* search = reinterpret_cast<BoxSearch*>(p);
    wchar_t cls[16] = {};
    ::GetClassNameW(h, cls, 16);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(h, &pid);
    if (std::wcscmp(cls, L"#32770") == 0 && ::IsWindowVisible(h) &&
        std::find(search->servers.begin(), search->servers.end(), pid) != search->servers.end()) {
        search->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND ServerBox() {
    BoxSearch search;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W pe{};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = ::Process32FirstW(snap, &pe); ok; ok = ::Process32NextW(snap, &pe))
        if (_wcsicmp(pe.szExeFile, L"mirelo-server.exe") == 0)
            search.servers.push_back(pe.th32ProcessID);
    ::CloseHandle(snap);
    ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// No engine folder recorded: the server the extension starts hidden still shows the
// plug-in's question; while it waits, and once the player has said No, the console says why.
void NoEngine(const Setup& s) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Kestrow\\Mirelo", L"FilePath");
    WriteIni(s, L"");
    OnNewSentenceFn fn = nullptr;
    HMODULE module = LoadExtension(s, fn);
    const ULONGLONG loaded = ::GetTickCount64();
    if (!fn) return;
    HWND box = nullptr;
    ULONGLONG end = ::GetTickCount64() + 30000;
    while (!box && ::GetTickCount64() < end) {
        DWORD ms = 0;
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "translated with no engine");
        CHECK(ms <= kWaitBoundMs, "a call took %lu ms while the server started", ms);
        box = ServerBox();
        ::Sleep(100);
    }
    CHECK(box != nullptr, "the plug-in's question never showed");
    const std::vector<std::wstring> said = Console();
    auto first = [&](const std::wstring& part) {
        for (size_t i = 0; i < said.size(); ++i)
            if (said[i].find(part) != std::wstring::npos) return i;
        return said.size();
    };
    CHECK(ConsoleCount(L"J2KEngine.dll과 Dat 폴더가 있는 폴더") == 1 &&
              first(L"J2KEngine.dll과 Dat") < first(L"mirelo-server를 시작했습니다"),
          "what the question means was not said once before the server started");
    end = ::GetTickCount64() + 10000;
    while (ConsoleCount(L"mirelo-server가 아직 준비 중입니다") == 0 && ::GetTickCount64() < end) {
        DWORD ms = 0;
        Call(fn, kHero, {}, &ms);
        CHECK(ms <= kWaitBoundMs, "a call took %lu ms while the server started", ms);
        ::Sleep(100);
    }
    CHECK(ConsoleCount(L"mirelo-server가 아직 준비 중입니다") == 1,
          "the wait on the question was not said");
    // The server it started still waits on the question: a sentence waits for it 8 s after
    // the start at most (the calls above, within 8 + 3.5 s), and then is answered at once.
    const ULONGLONG late = loaded + 9500;
    if (::GetTickCount64() < late) ::Sleep(static_cast<DWORD>(late - ::GetTickCount64()));
    for (int i = 0; i < 10; ++i) {
        DWORD ms = 0;
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "translated with no engine");
        CHECK(ms < 1000, "a call %llu ms after the load took %lu ms", ::GetTickCount64() - loaded,
              ms);
        ::Sleep(100);
    }
    if (box)
        ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(box, IDNO)));
    end = ::GetTickCount64() + 20000;
    while (ConsoleCount(L"번역 엔진을 쓸 수 없어") == 0 && ::GetTickCount64() < end) {
        DWORD ms = 0;
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "translated with no engine");
        CHECK(ms < 1000, "a call took %lu ms with no engine", ms);
        ::Sleep(100);
    }
    for (int i = 0; i < 40; ++i) {
        Call(fn, kHero);
        ::Sleep(100);
    }
    CHECK(ConsoleCount(L"번역 엔진을 쓸 수 없어 번역하지 않습니다: ") == 1,
          "the missing engine was not said once");
    ::FreeLibrary(module);
    CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded");
}

// Run by Restart as a process of its own: the extension starts a server, and the process
// then ends with the extension still loaded, as Textractor does when the player closes it.
void Child(const Setup& s) {
    WriteIni(s, L"");
    OnNewSentenceFn fn = nullptr;
    LoadExtension(s, fn);
    if (!fn) return;
    CHECK(WaitFor(fn, kHero, kHero + kSeparator + kHeroKo, 60000), "never translated");
    const DWORD pid = ServerChild();
    CHECK(pid != 0, "no server started by the extension");
    CHECK(WriteBytes(s.work + L"\\server.pid", std::to_string(pid)), "cannot write the pid");
}

void Reload(const Setup& s) {
    WriteIni(s, L"");
    // A server of this test's own, which every load finds and none owns.
    HANDLE job = StartServerInJob(s.serverDir, s.port, L"--options 11 --workers 1");
    CHECK(job, "cannot start the server");
    // Loaded before it listens, the extension would start a server of its own.
    CHECK(WaitListening(s.port, 30000), "the test's own server never listened");

    constexpr int kCycles = 100, kWarmUp = 5;
    Probe warm{};
    int untranslated = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        if (cycle == kWarmUp) warm = Measure();
        OnNewSentenceFn fn = nullptr;
        HMODULE module = LoadExtension(s, fn);
        if (!fn) return;
        const std::wstring in = LoadLine(9, cycle % 10);
        untranslated += !WaitFor(fn, in, in + kSeparator + LoadLineKo(9, cycle % 10),
                                 cycle == 0 ? 60000 : 10000);
        ::FreeLibrary(module);
        CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded after cycle %d", cycle);
    }
    Probe last = Measure();
    // Wine's thread pool, which WinHTTP's asynchronous mode runs on, lets an idle thread go a
    // moment later; a thread left by every load would stay.
    for (int i = 0; i < 30 && last.threads > warm.threads; ++i) {
        ::Sleep(100);
        last = Measure();
    }
    CHECK(untranslated == 0, "%d loads never translated", untranslated);
    CHECK(last.handles <= warm.handles + 2, "handles grew from %zu to %zu over %d reloads",
          warm.handles, last.handles, kCycles - kWarmUp);
    if (last.handles > warm.handles + 2) {
        std::wstring kinds;
        for (uintptr_t h : last.open)
            if (std::find(warm.open.begin(), warm.open.end(), h) == warm.open.end())
                kinds += HandleType(reinterpret_cast<HANDLE>(h)) + L" ";
        std::printf("new handles: %s\n", Narrow(kinds).c_str());
    }
    CHECK(last.threads <= warm.threads, "threads grew from %zu to %zu", warm.threads, last.threads);
    CHECK(ConsoleCount(L"mirelo-server를 시작했습니다") == 0,
          "a load started a server of its own (%zu of %zu console lines)",
          ConsoleCount(L"mirelo-server를 시작했습니다"), Console().size());
    const long long grown = static_cast<long long>(last.heapBytes) - warm.heapBytes;
    // Under 1 KB a cycle: the ~19 KB a statically linked runtime leaves at each unload would show.
    CHECK(grown < 95 * 1024, "the heaps grew by %lld bytes over %d reloads", grown,
          kCycles - kWarmUp);
    std::printf(
        "reload: handles %zu -> %zu, threads %zu -> %zu, heap %+lld bytes over %d reloads\n",
        warm.handles, last.handles, warm.threads, last.threads, grown, kCycles - kWarmUp);
    if (job) ::CloseHandle(job);  // ends the server
}

void Bad(const Setup& s) {
    WriteIni(s, L"");
    OnNewSentenceFn fn = nullptr;
    HMODULE module = LoadExtension(s, fn);
    if (!fn) return;
    CHECK(WaitFor(fn, kHero, kHero + kSeparator + kHeroKo, 60000), "never translated");

    Keys bare;
    bare.withNumber = bare.withSelect = bare.withCallback = false;
    const std::wstring lone = std::wstring(L"勇者") + wchar_t(0xD800) + L"魔王" + wchar_t(0xDC00);
    struct Case {
        const char* what;
        std::wstring in;
        Keys keys;
        bool mayTranslate;  // else it must come back as it went in
    } cases[] = {
        {"no text number, current select or callback: treated as a selected game thread", kHero,
         bare, true},
        {"an empty sentence stays empty", L"", {}, false},
        {"blank lines only", L"\n\r\n\x3000\n", {}, false},
        {"100,000 characters", std::wstring(100000, L'あ'), {}, false},
        {"a line of 10,000 characters, under the limit: one long request",
         [] {
             std::wstring t;
             for (int i = 0; i < 1000; ++i) t += kHero;
             return t;
         }(),
         {},
         true},
        {"lone surrogates", lone, {}, true},
        {"a lone low surrogate alone", std::wstring(1, wchar_t(0xDC00)), {}, true},
        // The server answers it as it was: showing it twice helps nobody.
        {"all emoji", L"😀😀🎉", {}, false},
    };
    for (const Case& c : cases) {
        DWORD ms = 0;
        const std::wstring got = Call(fn, c.in, c.keys, &ms);
        CHECK(ms <= 3500, "%s: took %lu ms", c.what, ms);
        if (c.mayTranslate)
            CHECK(got.compare(0, c.in.size(), c.in) == 0, "%s: the sentence was lost: %s", c.what,
                  Printable(got).c_str());
        else
            CHECK(got == c.in, "%s: changed to %s", c.what, Printable(got).c_str());
    }
    std::wstring longLine;
    for (int i = 0; i < 1000; ++i) longLine += kHero;
    DWORD longMs = 0;
    const std::wstring longOut = Call(fn, longLine, {}, &longMs);
    // One request of 90 KB of escapes; the server cuts the line into the plug-in's 4096 bytes.
    size_t heroes = 0;
    for (size_t at = longOut.find(kHeroKo); at != std::wstring::npos;
         at = longOut.find(kHeroKo, at + 1))
        ++heroes;
    CHECK(longOut.compare(0, longLine.size(), longLine) == 0 && heroes == 1000 && longMs <= 3500,
          "a 10,000-character line: %zu translated sentences of 1000 in %lu ms", heroes, longMs);
    CHECK(Call(fn, kHero, bare) == kHero + kSeparator + kHeroKo,
          "an info array without the usual keys was not translated");
    // A null info array: no crash, and the sentence comes back.
    HANDLE heap = ::GetProcessHeap();
    auto* buffer = static_cast<wchar_t*>(::HeapAlloc(heap, 0, sizeof(L"勇者")));
    std::wmemcpy(buffer, L"勇者", 3);
    wchar_t* back = fn(buffer, nullptr);
    CHECK(back && ::HeapValidate(heap, 0, back) && std::wcsncmp(back, L"勇者", 2) == 0,
          "a null info array");
    if (back) ::HeapFree(heap, 0, back);
    CHECK(ConsoleCount(L"16384자가 넘는 문장") == 1, "the long sentence was not said once");

    // The engine takes 6 s on a line: the plug-in gives up after 3 s and so does the call.
    DWORD ms = 0;
    CHECK(Call(fn, kSlow, {}, &ms) == kSlow, "the slow line was changed");
    CHECK(ms <= 3500, "the slow line held the thread %lu ms", ms);

    // A server that says it is Mirelo's and then never answers: the call gives up by itself.
    FakeServer silent;
    silent.Start(FakeServer::kSilent);
    ::Sleep(1100);
    Setup other = s;
    other.port = silent.port;
    WriteIni(other, L"");
    DWORD slowest = 0;
    const ULONGLONG end = ::GetTickCount64() + 15000;
    while (::GetTickCount64() < end && slowest < 3000) {
        CHECK(Call(fn, kHero, {}, &ms) == kHero,
              "a sentence was changed by a server that never answered");
        slowest = std::max(slowest, ms);
        ::Sleep(50);
    }
    CHECK(slowest >= 3000 && slowest <= 3500, "the call to a silent server took %lu ms", slowest);
    CHECK(ConsoleCount(L"제시간(3초)에 번역되지 않은") == 1,
          "lines not answered in time were not said once");
    ::FreeLibrary(module);
    CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded");
    silent.Stop();
    return;
    ::FreeLibrary(module);
    CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded");
}

// Programs on the port that are not a working Mirelo server: every call keeps to its time,
// no server is started in a loop, and the console says each thing once.
void Strange(const Setup& s) {
    FakeServer junk;
    junk.Start(FakeServer::kGarbage);
    Setup at = s;
    at.port = junk.port;
    WriteIni(at, L"");
    OnNewSentenceFn fn = nullptr;
    HMODULE module = LoadExtension(s, fn);
    if (!fn) return;
    DWORD ms = 0;
    ULONGLONG end = ::GetTickCount64() + 8000;
    while (::GetTickCount64() < end) {
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "changed by a program that is not HTTP");
        CHECK(ms < 1000, "a call took %lu ms against a program that is not HTTP", ms);
        ::Sleep(100);
    }
    CHECK(ConsoleCount(L"Mirelo가 아닌 다른 프로그램") == 1,
          "bytes that are not HTTP were not said once to be another program's");
    CHECK(ConsoleCount(L"mirelo-server를 시작했습니다") == 0,
          "%zu servers started on another program's port",
          ConsoleCount(L"mirelo-server를 시작했습니다"));
    junk.Stop();

    // A head or a body a byte at a time: the call ends at its 3.4 s all the same. The ini
    // names 127.0.0.2, which the extension replaces with 127.0.0.1, where these listen.
    const struct {
        const char* what;
        FakeServer::Mode mode;
    } slow[] = {{"trickled head", FakeServer::kTrickleHead},
                {"trickled body", FakeServer::kTrickleBody}};
    for (const auto& c : slow) {
        FakeServer trickle;
        trickle.Start(c.mode);
        at.port = trickle.port;
        ::Sleep(1100);
        WriteIni(at, L"host=127.0.0.2\r\n");
        DWORD slowest = 0;
        end = ::GetTickCount64() + 20000;
        while (::GetTickCount64() < end && trickle.translations < 2) {
            CHECK(Call(fn, kHero, {}, &ms) == kHero, "%s: the sentence was changed", c.what);
            slowest = std::max(slowest, ms);
            ::Sleep(50);
        }
        CHECK(trickle.translations >= 2, "%s: %ld lines asked of 127.0.0.1", c.what,
              trickle.translations);
        CHECK(slowest >= 3000 && slowest <= 3500, "%s: the slowest call took %lu ms", c.what,
              slowest);
        trickle.Stop();
    }
    CHECK(ConsoleCount(L"127.0.0.1에서만 답하므로") == 2,
          "host=127.0.0.2 was not said at each read");

    // Sentences of two processes a moment apart: each line names its own process's game.
    FakeServer games;
    games.Start(FakeServer::kAnswer);
    at.port = games.port;
    ::Sleep(1100);
    WriteIni(at, L"");
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION other{};
    std::wstring command = L"cmd.exe /c exit";
    CHECK(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                           CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &si, &other),
          "cannot start cmd.exe");
    Keys ofCmd;
    ofCmd.pid = other.dwProcessId;
    end = ::GetTickCount64() + 10000;
    while (::GetTickCount64() < end && Call(fn, kHero) == kHero) ::Sleep(100);
    const LONG ownBefore = games.named;
    for (int i = 0; i < 3; ++i) {
        CHECK(Call(fn, kHero, ofCmd) == kHero + kSeparator + L"번역", "cmd.exe's line");
        CHECK(Call(fn, kHero) == kHero + kSeparator + L"번역", "this host's line");
    }
    CHECK(games.namedCmd == 3 && games.named - ownBefore == 3,
          "%ld of 3 lines named cmd, %ld of 3 this host", games.namedCmd, games.named - ownBefore);
    ::TerminateProcess(other.hProcess, 0);
    ::CloseHandle(other.hThread);
    ::CloseHandle(other.hProcess);
    games.Stop();

    // A redirect is not followed: what it points at would be shown as the translation.
    FakeServer moved;
    moved.Start(FakeServer::kRedirect);
    at.port = moved.port;
    ::Sleep(1100);
    WriteIni(at, L"");
    end = ::GetTickCount64() + 10000;
    while (::GetTickCount64() < end && moved.translations < 3) {
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "a redirect changed the sentence");
        CHECK(ms < 1000, "a call took %lu ms against a redirect", ms);
        ::Sleep(50);
    }
    CHECK(moved.translations >= 3, "only %ld lines asked of the redirecting server",
          moved.translations);
    CHECK(moved.named == moved.translations, "%ld of %ld lines named the game", moved.named,
          moved.translations);
    moved.Stop();

    // Connections reset on every line, and a dictionary problem reported by /status.
    FakeServer resets;
    resets.problems = 1;
    resets.Start(FakeServer::kReset);
    at.port = resets.port;
    ::Sleep(1100);
    WriteIni(at, L"");
    end = ::GetTickCount64() + 8000;
    while (::GetTickCount64() < end) {
        CHECK(Call(fn, kHero, {}, &ms) == kHero, "changed by a server that resets");
        CHECK(ms < 1000, "a call took %lu ms against a server that resets", ms);
        ::Sleep(100);
    }
    CHECK(resets.translations >= 10, "only %ld lines asked of the resetting server",
          resets.translations);
    CHECK(ConsoleCount(L"연결이 끊겼습니다") == 1 && ConsoleCount(L"다시 연결했습니다") == 0,
          "a resetting server: lost said %zu times, back %zu times",
          ConsoleCount(L"연결이 끊겼습니다"), ConsoleCount(L"다시 연결했습니다"));
    CHECK(ConsoleCount(L"이미 실행 중인 mirelo-server(127.0.0.1:" + std::to_wstring(resets.port) +
                       L", 폴더 C:\\elsewhere)") == 1,
          "the server in use and its folder were not said once");
    CHECK(ConsoleCount(L"사전 C:\\elsewhere\\MireloDict을(를) 씁니다. 확장 기능 옆의 " + s.work +
                       L"\\MireloDict") == 1,
          "another dictionary than the one beside the extension was not said once");
    CHECK(ConsoleCount(L"사용자 사전 문제: C:\\elsewhere\\MireloDict\\names.txt:3: no tab") == 1,
          "the dictionary problem was not said once");
    resets.problems = 0;
    end = ::GetTickCount64() + 5000;
    while (::GetTickCount64() < end && ConsoleCount(L"사전 문제가 모두 없어졌습니다") == 0) {
        Call(fn, kHero);
        ::Sleep(100);
    }
    CHECK(ConsoleCount(L"사전 문제가 모두 없어졌습니다") == 1 &&
              ConsoleCount(L"names.txt:3: no tab") == 1,
          "the end of the dictionary problem was not said once");
    resets.Stop();
    ::FreeLibrary(module);
    // Requests left to WinHTTP when time ran out let go of the extension once they end.
    CHECK(WaitUnloaded(s, 20000), "the extension stayed loaded");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fprintf(
            stderr,
            "usage: textractor_host SCENARIO EXTENSION_DLL SERVER_DIR ENGINE_DIR WORK_DIR\n");
        return 2;
    }
    auto arg = [&](int i) {
        std::wstring w = argv[i];
        return WindowsPath(w);
    };
    const std::wstring scenario = argv[1];
    Setup s;
    s.dll = arg(2);
    s.serverDir = arg(3);
    s.engineDir = arg(4);
    s.work = arg(5);
    for (size_t at = s.work.find(L'\\', 3); at != std::wstring::npos;
         at = s.work.find(L'\\', at + 1))
        ::CreateDirectoryW(s.work.substr(0, at).c_str(), nullptr);
    ::CreateDirectoryW(s.work.c_str(), nullptr);
    s.xdll = s.work + L"\\Mirelo Translate.xdll";
    s.ini = s.work + L"\\Mirelo Translate.ini";
    s.port = FreePort();

    // The plug-in's workers find the stand-in engine through the install key: a copy in demo
    // mode that gives nothing for kRefused.
    const std::wstring path = s.work + L"\\engine";
    ::CreateDirectoryW(path.c_str(), nullptr);
    ::CreateDirectoryW((path + L"\\Dat").c_str(), nullptr);
    CHECK(::CopyFileW((s.engineDir + L"\\J2KEngine.dll").c_str(),
                      (path + L"\\J2KEngine.dll").c_str(), FALSE),
          "cannot copy the stand-in engine");
    auto hex = [](const std::wstring& text) {
        char bytes[64] = {};
        const int n =
            ::WideCharToMultiByte(932, 0, text.c_str(), -1, bytes, sizeof(bytes), nullptr, nullptr);
        std::string out;
        for (int i = 0; i + 1 < n; ++i) {
            char two[3];
            std::snprintf(two, sizeof(two), "%02x", static_cast<unsigned char>(bytes[i]));
            out += two;
        }
        return out;
    };
    const std::string rules = "null " + hex(kRefused) + "\r\ndelay " + hex(kSlow) + " 6000\r\n";
    CHECK(WriteBytes(path + L"\\Dat\\standin.txt", rules), "cannot write standin.txt");
    CHECK(::RegSetKeyValueW(
              HKEY_CURRENT_USER, L"Software\\Kestrow\\Mirelo", L"FilePath", REG_SZ, path.c_str(),
              static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS,
          "cannot set the engine folder");

    if (scenario == L"contract")
        Contract(s);
    else if (scenario == L"threads")
        Threads(s);
    else if (scenario == L"restart")
        Restart(s);
    else if (scenario == L"reload")
        Reload(s);
    else if (scenario == L"bad")
        Bad(s);
    else if (scenario == L"child")
        Child(s);
    else if (scenario == L"noengine")
        NoEngine(s);
    else if (scenario == L"strange")
        Strange(s);
    else {
        std::fprintf(stderr, "unknown scenario\n");
        return 2;
    }
    // Always, so that a passing run's log shows what a player would have read.
    {
        std::printf("console:\n");
        for (const std::wstring& line : Console()) std::printf("  %s\n", Printable(line).c_str());
    }
    std::printf("%s %s: %d failure(s)\n", sizeof(void*) == 8 ? "x64" : "x86",
                Narrow(scenario).c_str(), g_failures);
    return g_failures ? 1 : 0;
}

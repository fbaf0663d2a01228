#include "sentence.h"

#include "code_pages.h"
#include "ext_messages.h"
#include "ext_settings.h"
#include "handles.h"
#include "module_path.h"
#include "locks.h"
#include "mirelo_version.h"
#include "game_name.h"
#include "program_text.h"
#include "server_link.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace textractor {

int64_t InfoValue(const InfoForExtension* info, const char* name, int64_t fallback) {
    if (!info) return fallback;
    for (; info->name; ++info)
        if (std::strcmp(info->name, name) == 0) return info->value;
    return fallback;
}

namespace {

// Textractor's own translators put the translation under the sentence after this.
constexpr wchar_t kSeparator[] = L"\x200b \n";
constexpr ULONGLONG kSettingsLookMs = 1000;
// No settings file is this large; a larger one is not read.
constexpr LONGLONG kMaxSettingsBytes = 1 << 20;

// The ini beside the DLL, looked at again at most once a second.
class SettingsFile {
  public:
    void Attach(HMODULE module) {
        std::wstring path = mirelo::ModulePath(module);
        const size_t dot = path.find_last_of(L'.');
        const size_t slash = path.find_last_of(L"\\/");
        if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
            path.resize(dot);
        path_ = path + L".ini";
    }

    // The current settings; problems found in a changed file go to `messages`.
    Settings Get(std::vector<std::wstring>& messages) {
        mirelo::ExclusiveLock::Guard guard(lock_);
        const ULONGLONG now = ::GetTickCount64();
        if (looked_ && now - lastLook_ < kSettingsLookMs) return settings_;
        lastLook_ = now;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool exists = ::GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data) &&
                            !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        const ULONGLONG stamp =
            exists ? (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                      data.ftLastWriteTime.dwLowDateTime) ^
                         (static_cast<ULONGLONG>(data.nFileSizeLow) << 1)
                   : 0;
        if (looked_ && exists == exists_ && stamp == stamp_) return settings_;
        const bool reread = looked_;
        looked_ = true;
        exists_ = exists;
        stamp_ = stamp;
        settings_ = Settings();
        if (!exists) return settings_;
        std::string bytes;
        if (!Read(bytes)) {
            // Caught mid-write, perhaps: look again next time.
            stamp_ = 0;
            return settings_;
        }
        std::wstring text;
        if (!DecodeSettingsFile(bytes, text)) {
            messages.push_back(Words(Say::kSettingsUnreadable));
            return settings_;
        }
        ParsedSettings parsed = ParseSettings(text);
        settings_ = parsed.settings;
        if (reread) messages.push_back(Words(Say::kSettingsRead));
        for (std::wstring& p : parsed.problems) messages.push_back(std::move(p));
        return settings_;
    }

  private:
    bool Read(std::string& bytes) const {
        mirelo::UniqueFile file(::CreateFileW(
            path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxSettingsBytes) return false;
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        if (!bytes.empty() &&
            !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
            return false;
        bytes.resize(read);
        return true;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::wstring path_;
    bool looked_ = false;
    bool exists_ = false;
    ULONGLONG lastLook_ = 0;
    ULONGLONG stamp_ = 0;
    Settings settings_;
};

// At namespace scope for the reason g_link is (server_link.cpp).
SettingsFile g_files;

SettingsFile& Files() {
    return g_files;
}

void Show(const InfoForExtension* info, const std::vector<std::wstring>& lines) {
    if (lines.empty()) return;
    const auto add =
        reinterpret_cast<AddSentenceFn>(static_cast<intptr_t>(InfoValue(info, kAddSentenceKey, 0)));
    if (!add) return;
    for (const std::wstring& line : lines) add(0, line.c_str());
}

// How long a process's name is trusted: a process id may come back for another program.
constexpr ULONGLONG kGameLookMs = 10000;

// The game of the process a text thread hooks, as the server names it: asked of the system
// once per process (and again now and then), not once per sentence.
class GameOfProcess {
  public:
    std::string Get(int64_t pid) {
        if (pid <= 0 || pid > 0xFFFFFFFF) return {};
        mirelo::ExclusiveLock::Guard guard(lock_);
        const ULONGLONG now = ::GetTickCount64();
        if (pid == pid_ && now - lookedAt_ < kGameLookMs) return game_;
        pid_ = pid;
        lookedAt_ = now;
        game_.clear();
        const mirelo::UniqueHandle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
        if (!process) return game_;
        wchar_t path[MAX_PATH * 2];
        DWORD size = MAX_PATH * 2;
        if (::QueryFullProcessImageNameW(process.get(), 0, path, &size))
            game_ = mirelo::games::GameOfExecutable(mirelo::WideToUtf8({path, size})).value_or("");
        return game_;
    }

  private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    int64_t pid_ = 0;
    ULONGLONG lookedAt_ = 0;
    std::string game_;
};

GameOfProcess g_games;

// Puts `text` into the host's buffer, growing it on the process heap when it must.
wchar_t* Store(wchar_t* sentence, size_t oldLength, const std::wstring& text) {
    if (text.size() > oldLength) {
        void* grown =
            ::HeapReAlloc(::GetProcessHeap(), 0, sentence, (text.size() + 1) * sizeof(wchar_t));
        if (!grown) return sentence;  // keep the sentence rather than lose it
        sentence = static_cast<wchar_t*>(grown);
    }
    std::wmemcpy(sentence, text.c_str(), text.size() + 1);
    return sentence;
}

// Finds or starts the server as soon as the extension is loaded, not at the first sentence.
DWORD WINAPI BeginMain(void* module) {
    try {
        std::vector<std::wstring> messages;
        const Settings settings = Files().Get(messages);
        for (const std::wstring& m : messages) Link().Say(m);
        Link().Begin(settings);
    } catch (...) {
        // Out of memory: the first sentence looks for the server instead.
    }
    ::FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

}  // namespace

void AttachSentences(HMODULE module) {
    Files().Attach(module);
    Link().Attach(module);
    // The thread holds the DLL loaded until it ends (it starts once DllMain has returned).
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(&BeginMain), &self))
        return;
    HANDLE thread = ::CreateThread(nullptr, 0, BeginMain, self, 0, nullptr);
    if (thread)
        ::CloseHandle(thread);
    else
        ::FreeLibrary(self);
}

void DetachSentences(bool processExit) {
    if (processExit)
        Link().Abandon();
    else
        Link().Close();
}

wchar_t* HandleSentence(wchar_t* sentence, const InfoForExtension* info) {
    std::vector<std::wstring> messages;
    const Settings settings = Files().Get(messages);
    if (Link().FirstTime(static_cast<int>(Say::kHello)))
        messages.insert(
            messages.begin(),
            Words(Say::kHello, {L"" MIRELO_VERSION, sizeof(void*) == 8 ? L"64" : L"32",
                                settings.host + L":" + std::to_wstring(settings.port)}));
    for (std::wstring& m : Link().TakeMessages()) messages.push_back(std::move(m));
    Show(info, messages);
    if (!sentence) return sentence;

    // A missing key counts as a game's own text thread, selected: a host that does not say
    // still gets translations.
    const int64_t number = InfoValue(info, "text number", 2);
    if (number == 0) return sentence;
    if (number == 1 && !settings.clipboard) return sentence;
    if (settings.selectedOnly && InfoValue(info, "current select", 1) == 0) return sentence;

    const size_t length = std::wcslen(sentence);
    const std::wstring_view text(sentence, length);
    if (programs::IsBlank(text)) return sentence;
    if (length > kMaxSentence) {
        if (Link().FirstTime(static_cast<int>(Say::kTooLong)))
            Show(info, {Words(Say::kTooLong, {std::to_wstring(kMaxSentence)})});
        return sentence;
    }

    Translation t = Link().AskServer(settings, text, g_games.Get(InfoValue(info, "process id", 0)));
    Show(info, Link().TakeMessages());
    // Nothing in it the engine could take (emoji only, say): showing it twice helps nobody.
    if (t.outcome != Outcome::kTranslated || t.text == text) return sentence;
    if (settings.replace) return Store(sentence, length, t.text);
    std::wstring both;
    both.reserve(length + 3 + t.text.size());
    both.append(text).append(kSeparator).append(t.text);
    return Store(sentence, length, both);
}

}  // namespace textractor

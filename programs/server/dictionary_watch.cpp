#include "dictionary_watch.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "dictionary_words.h"
#include "handles.h"
#include "messages.h"

namespace server {
namespace {

using mirelo::dict::Kind;
using programs::Format;
using programs::Msg;

std::string Summary(const std::wstring& folder, const mirelo::dict::FolderDictionary& loaded) {
    const mirelo::dict::Dictionary* d = loaded.dictionary.get();
    return Format(Msg::kDictSummary, {mirelo::WideToUtf8(folder), std::to_string(loaded.files),
                                      std::to_string(d ? d->Count(Kind::Name) : 0),
                                      std::to_string(d ? d->Count(Kind::Pre) : 0),
                                      std::to_string(d ? d->Count(Kind::Post) : 0)});
}

// The games' subfolders and their files, as one hash: a change to any game's entries makes
// what the pool remembers of lines start afresh, as a change to the common files does.
uint64_t GamesSignature(const std::wstring& folder) {
    uint64_t sum = 0;
    WIN32_FIND_DATAW fd;
    const mirelo::UniqueFind find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &fd,
                                                   FindExSearchLimitToDirectories, nullptr, 0));
    if (!find) return 0;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0)
            continue;
        uint64_t h = 0xCBF29CE484222325ull;
        for (const wchar_t* c = fd.cFileName; *c; ++c) h = (h ^ *c) * 0x100000001B3ull;
        sum += h ^ mirelo::dict::FolderSignature(folder + L"\\" + fd.cFileName);
    } while (FindNextFileW(find.get(), &fd));
    return sum;
}

}  // namespace

DictionaryWatch::DictionaryWatch(std::wstring folder,
                                 std::function<void(const std::string&, const std::string&)> say,
                                 std::function<void()> changed)
    : m_folder(std::move(folder)),
      m_say(std::move(say)),
      m_changed(std::move(changed)),
      m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (m_stop) m_thread = std::thread([this] { Run(); });
}

DictionaryWatch::~DictionaryWatch() {
    if (!m_thread.joinable()) return;
    SetEvent(m_stop.get());
    m_thread.join();
}

std::vector<std::string> DictionaryWatch::Problems() const {
    std::lock_guard lock(m_mutex);
    return m_problems;
}

void DictionaryWatch::Run() {
    mirelo::dict::FolderWatch watch(m_folder);
    bool first = true;
    uint64_t games = GamesSignature(m_folder);
    uint64_t gamesSeen = games;
    uint64_t gamesSeenAt = 0;
    for (;;) {
        const uint64_t now = GetTickCount64();
        // The workers' plug-ins read their game's folder themselves once it has held still.
        if (const uint64_t g = GamesSignature(m_folder); g != games) {
            if (g != gamesSeen) {
                gamesSeen = g;
                gamesSeenAt = now;
            } else if (now - gamesSeenAt >= mirelo::dict::kQuietMs) {
                games = g;
                m_changed();
            }
        }
        if (watch.Due(now)) {
            const mirelo::dict::FolderDictionary loaded = watch.Load();
            std::vector<std::string> problems;
            for (const mirelo::dict::Problem& p : loaded.problems)
                problems.push_back(programs::DescribeProblem(p));
            {
                std::lock_guard lock(m_mutex);
                m_problems = problems;
            }
            // A folder that never held a dictionary is not news at start.
            if (!first || loaded.files > 0) {
                m_say("dictionary", Format(first ? Msg::kEventDictRead : Msg::kEventDictReloaded,
                                           {Summary(m_folder, loaded)}));
                for (const std::string& problem : problems)
                    m_say("dictionary", Format(Msg::kEventDictProblem, {problem}));
            }
            if (!first) m_changed();
            first = false;
        }
        const uint32_t wait =
            std::min(watch.WaitMs(GetTickCount64()), mirelo::dict::kLookIntervalMs);
        if (WaitForSingleObject(m_stop.get(), wait) != WAIT_TIMEOUT) return;
    }
}

}  // namespace server

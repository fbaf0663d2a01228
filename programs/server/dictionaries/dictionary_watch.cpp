#include "dictionary_watch.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <system_error>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "dictionary_words.h"
#include "game_name.h"
#include "handles.h"
#include "messages.h"

namespace server {
namespace {

using mirelo::dict::Kind;
using programs::Format;
using programs::Msg;

std::string Summary(const std::wstring& folder, const mirelo::dict::FolderDictionary& loaded) {
    const mirelo::dict::Dictionary* d = loaded.dictionary.get();
    const auto count = [d](Kind k) { return std::to_string(d ? d->Count(k) : 0); };
    const std::size_t lines = d ? d->Count(Kind::Line) : 0;
    return Format(lines ? Msg::kDictSummaryLines : Msg::kDictSummary,
                  {mirelo::WideToUtf8(folder), std::to_string(loaded.files), count(Kind::Name),
                   count(Kind::Pre), count(Kind::Post), std::to_string(lines)});
}

// Each game's subfolder by name, with the signature of its files: a change to any game's
// entries makes what the pool remembers of lines start afresh, as a change to the common files
// does.
std::map<std::wstring, uint64_t> GameSignatures(const std::wstring& folder) {
    std::map<std::wstring, uint64_t> games;
    for (const std::wstring& game : mirelo::dict::GameFolders(folder))
        games[game] = mirelo::dict::FolderSignature(folder + L"\\" + game);
    return games;
}

}  // namespace

DictionaryWatch::DictionaryWatch(std::wstring folder,
                                 std::function<void(const std::string&, const std::string&)> say,
                                 std::function<void()> changed)
    : m_folder(std::move(folder)),
      m_say(std::move(say)),
      m_changed(std::move(changed)),
      m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    DWORD code = GetLastError();
    if (m_stop) {
        try {
            m_thread = std::thread([this] { Run(); });
            return;
        } catch (const std::system_error&) {
            // The code it carries is the C library's; the system's own is still at hand.
            code = GetLastError() ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    // Not watched: the player is told where dictionary problems are shown, and why.
    const std::string why =
        Format(Msg::kDictWatchNoStart,
               {mirelo::WideToUtf8(m_folder), programs::SystemMessage(code), std::to_string(code)});
    m_problems.push_back(why);
    m_say("dictionary", why);
}

DictionaryWatch::~DictionaryWatch() {
    if (!m_thread.joinable()) return;
    SetEvent(m_stop.get());
    m_thread.join();
}

std::vector<std::string> DictionaryWatch::Problems() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> all = m_problems;
    for (const auto& [game, problems] : m_gameProblems)
        all.insert(all.end(), problems.begin(), problems.end());
    return all;
}

std::vector<std::string> DictionaryWatch::Games() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> games;
    for (const auto& [folder, problems] : m_gameProblems)
        if (auto game = mirelo::games::CheckGameName(mirelo::WideToUtf8(folder)))
            games.push_back(std::move(*game));
    return games;
}

void DictionaryWatch::ReadGames(const std::map<std::wstring, uint64_t>& before,
                                const std::map<std::wstring, uint64_t>& now, bool first) {
    for (const auto& [game, signature] : now) {
        const auto was = before.find(game);
        if (!first && was != before.end() && was->second == signature) continue;
        const std::wstring folder = m_folder + L"\\" + game;
        const mirelo::dict::FolderDictionary loaded = mirelo::dict::LoadFolder(folder);
        // Named as the plug-in names a game's files, so that the player finds the one meant.
        std::vector<std::string> problems;
        for (mirelo::dict::Problem p : loaded.problems) {
            p.file = mirelo::WideToUtf8(game) + "\\" + p.file;
            problems.push_back(programs::DescribeProblem(p));
        }
        if (!first || loaded.files > 0) {
            m_say("dictionary", Format(first ? Msg::kEventDictRead : Msg::kEventDictReloaded,
                                       {Summary(folder, loaded)}));
            for (const std::string& problem : problems)
                m_say("dictionary", Format(Msg::kEventDictProblem, {problem}));
        }
        std::lock_guard lock(m_mutex);
        m_gameProblems[game] = std::move(problems);
    }
    std::lock_guard lock(m_mutex);
    std::erase_if(m_gameProblems, [&](const auto& g) { return !now.contains(g.first); });
}

void DictionaryWatch::Run() {
    mirelo::dict::FolderWatch watch(m_folder);
    bool first = true;
    std::map<std::wstring, uint64_t> games = GameSignatures(m_folder);
    ReadGames({}, games, true);
    std::map<std::wstring, uint64_t> gamesSeen = games;
    uint64_t gamesSeenAt = 0;
    for (;;) {
        const uint64_t now = GetTickCount64();
        // The workers' plug-ins read their game's folder themselves once it has held still.
        if (auto g = GameSignatures(m_folder); g != games) {
            if (g != gamesSeen) {
                gamesSeen = std::move(g);
                gamesSeenAt = now;
            } else if (now - gamesSeenAt >= mirelo::dict::kQuietMs) {
                ReadGames(games, g, false);
                games = std::move(g);
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

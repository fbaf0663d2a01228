#include "line_answers.h"

#include <vector>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "game_name.h"
#include "text_codec.h"

namespace server {
namespace {

using mirelo::dict::Kind;

// The games that have a folder, named as requests name them.
std::vector<std::string> GameNames(const std::wstring& folder) {
    std::vector<std::string> games;
    for (const std::wstring& name : mirelo::dict::GameFolders(folder))
        if (auto game = mirelo::games::CheckGameName(mirelo::WideToUtf8(name)))
            games.push_back(std::move(*game));
    return games;
}

}  // namespace

LineAnswers::Entries LineAnswers::Read(const std::string& game) const {
    const std::wstring folder =
        game.empty() ? m_folder : m_folder + L"\\" + mirelo::Utf8ToWide(game);
    mirelo::dict::FolderDictionary loaded = mirelo::dict::LoadFolder(folder, {false, nullptr});
    // Most folders hold no line entry: nothing of them is kept.
    if (!loaded.dictionary || loaded.dictionary->Count(Kind::Line) == 0) return nullptr;
    return Entries(std::move(loaded.dictionary));
}

void LineAnswers::Reload(const std::string& game) {
    Entries read = Read(game);
    std::lock_guard lock(m_mutex);
    if (game.empty()) {
        m_common = std::move(read);
    } else if (read) {
        m_games[game] = std::move(read);
    } else {
        m_games.erase(game);
    }
}

void LineAnswers::ReloadAll() {
    Entries common = Read({});
    std::map<std::string, Entries> games;
    for (const std::string& game : GameNames(m_folder))
        if (Entries read = Read(game)) games.emplace(game, std::move(read));
    std::lock_guard lock(m_mutex);
    m_common = std::move(common);
    m_games = std::move(games);
}

bool LineAnswers::Find(const std::string& game, const std::string& sjis,
                       std::string& answer) const {
    Entries own, common;
    {
        std::lock_guard lock(m_mutex);
        if (!m_common && m_games.empty()) return false;
        common = m_common;
        if (!game.empty())
            if (const auto it = m_games.find(game); it != m_games.end()) own = it->second;
    }
    std::string_view to;
    if (!(own && own->FindLine(sjis, to)) && !(common && common->FindLine(sjis, to))) return false;
    std::string cp949(to);
    cp949 += mirelo::dict::LineEnding(sjis);
    answer = programs::Cp949ToUtf8(cp949);
    return true;
}

}  // namespace server

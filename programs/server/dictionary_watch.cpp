#include "dictionary_watch.h"

#include <windows.h>

#include "code_pages.h"
#include "dictionary_folder_win.h"
#include "dictionary_words.h"
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
    for (;;) {
        const uint64_t now = GetTickCount64();
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
        if (WaitForSingleObject(m_stop.get(), watch.WaitMs(GetTickCount64())) != WAIT_TIMEOUT)
            return;
    }
}

}  // namespace server

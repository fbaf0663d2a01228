// The workers' plug-ins each read the MireloDict folder beside them by themselves; the server
// watches the same folder so that a reload is logged with its problems, and so that what the
// pool remembers of lines starts afresh with the new dictionary.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "handles.h"

namespace server {

class DictionaryWatch {
  public:
    // `folder`: the MireloDict the workers' plug-in reads. `say(kind, text)` takes the log's
    // events; `changed` runs after each reload but the first. Both run on the watch's thread.
    DictionaryWatch(std::wstring folder,
                    std::function<void(const std::string&, const std::string&)> say,
                    std::function<void()> changed);
    ~DictionaryWatch();
    DictionaryWatch(const DictionaryWatch&) = delete;
    DictionaryWatch& operator=(const DictionaryWatch&) = delete;

    const std::wstring& Folder() const { return m_folder; }
    // The problems of the last read of the common folder and of each game's, worded; any
    // thread.
    std::vector<std::string> Problems() const;
    // The games that have a folder of their own, folded as requests name them; any thread.
    std::vector<std::string> Games() const;

  private:
    void Run();
    // Reads the games' folders that are new or changed, logging each with its problems.
    void ReadGames(const std::map<std::wstring, uint64_t>& before,
                   const std::map<std::wstring, uint64_t>& now, bool first);

    std::wstring m_folder;
    std::function<void(const std::string&, const std::string&)> m_say;
    std::function<void()> m_changed;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_problems;
    std::map<std::wstring, std::vector<std::string>> m_gameProblems;
    mirelo::UniqueHandle m_stop;
    std::thread m_thread;
};

}  // namespace server

#include "engine_folder.h"

#include <filesystem>
#include <system_error>

namespace mirelo::test {

EngineFolder::EngineFolder(const std::string& script, const wchar_t* engineFile,
                           const std::wstring& below)
    : m_root(m_top.path() + below) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(DataDir()), ec);
    if (engineFile != nullptr) {
        CopyFileW((BinDir() + L"\\" + engineFile).c_str(), (m_root + L"\\J2KEngine.dll").c_str(),
                  FALSE);
    }
    if (!script.empty()) WriteBytes(DataDir() + L"\\standin.txt", script);
}

std::vector<std::string> EngineFolder::Log() const {
    return ReadLines(DataDir() + L"\\calls.log");
}

std::vector<std::string> EngineFolder::LogLines(std::string_view prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : Log()) {
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    }
    return out;
}

std::wstring EngineFolder::LibraryPathFor(const std::wstring& folder) {
    return folder + L"\\Dat\\..\\J2KEngine.dll";
}

}  // namespace mirelo::test

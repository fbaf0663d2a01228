// mirelo-server --export GAME FILE / --import GAME FILE.
#pragma once

#include <filesystem>
#include <string>

namespace server {

struct ShareJob {
    bool import = false;
    std::string game;  // checked and folded
    std::wstring file;
    std::string format;  // as --format names it; empty: the file's extension
};

// The exit code; what went wrong is said on the standard error.
int RunShare(const ShareJob& job, const std::filesystem::path& dictionaryFolder,
             const std::filesystem::path& dataFolder);

}  // namespace server

// Command line of mirelo-server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "server_address.h"

namespace server {

using programs::kDefaultPort;
inline constexpr unsigned kMaxWorkers = 8;

struct ServerArgs {
    std::string host = "127.0.0.1";
    unsigned short port = kDefaultPort;
    bool listenGiven = false;  // --listen: may be reachable from elsewhere
    std::string cors;
    std::wstring plugin;  // empty: Mirelo.dll beside the program
    // Both clean-ups on: players of the server have no options dialog to turn them on.
    std::string options = "11";
    bool optionsGiven = false;
    std::size_t queue = 20000;
    int timeoutSeconds = 60;
    std::wstring translateFile;  // non-empty: translate this file instead of serving
    std::wstring outFile;        // empty: standard output
    std::wstring logFolder;      // empty: "logs" beside the program
    std::string game;            // folded; empty: the common dictionary alone
    unsigned workers = 0;        // 0: one per logical processor, at most kMaxWorkers
    std::wstring dataFolder;     // empty: the program's own folder
    std::size_t historyRows = 1000000;
    uint64_t historyBytes = uint64_t{256} << 20;
    bool noHistory = false;
    // --export GAME FILE / --import GAME FILE
    bool share = false;
    bool shareImport = false;
    std::string shareGame;  // checked and folded
    std::wstring shareFile;
    std::string shareFormat;  // --format; empty: the file's extension names it
    bool diagnose = false;
    bool help = false;
    bool version = false;
};

struct ParsedServerArgs {
    ServerArgs args;
    std::string error;
};

ParsedServerArgs ParseServerArgs(const std::vector<std::wstring>& argv);
std::string ServerHelpText();

}  // namespace server

// What crestdoubler-web is started with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crest::cli {

struct ServerOptions {
    std::string bind = "127.0.0.1";
    int port = 8080;  // 0: any free port
    std::string dataFolder;
    int threads = 0;  // instances of the module; 0: one per core
    std::int64_t maxUpload = std::int64_t{8} << 30;
    bool newToken = false;
    bool showHelp = false;
};

// Throws CommandError with ExitStatus::usage.
ServerOptions parseServerOptions(const std::vector<std::string>& arguments);

std::string serverUsageText();

// $XDG_DATA_HOME/crestdoubler-web, else ~/.local/share/crestdoubler-web.
std::string defaultDataFolder();

}  // namespace crest::cli

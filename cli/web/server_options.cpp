#include "cli/web/server_options.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <thread>

#include "cli/base/command_error.h"

namespace crest::cli {

namespace {

[[noreturn]] void usageError(const std::string& message) {
    throw CommandError(message + " (see crestdoubler-web --help)", ExitStatus::usage);
}

std::int64_t parseInteger(const std::string& name, const std::string& text, std::int64_t low, std::int64_t high) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        usageError(name + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                   ", not '" + text + "'");
    return value;
}

}  // namespace

ServerOptions parseServerOptions(const std::vector<std::string>& arguments) {
    ServerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string inlineValue;
        bool hasInlineValue = false;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
            hasInlineValue = true;
        }
        const auto value = [&]() -> std::string {
            if (hasInlineValue) return inlineValue;
            if (i + 1 >= arguments.size()) usageError(name + " needs a value");
            return arguments[++i];
        };
        if (name == "--help" || name == "-h") {
            options.showHelp = true;
        } else if (name == "--bind") {
            options.bind = value();
            if (options.bind.empty()) usageError("--bind needs an address, e.g. 127.0.0.1");
        } else if (name == "--port") {
            options.port = static_cast<int>(parseInteger(name, value(), 0, 65535));
        } else if (name == "--data") {
            options.dataFolder = value();
            if (options.dataFolder.empty()) usageError("--data needs a folder");
        } else if (name == "--threads") {
            options.threads = static_cast<int>(parseInteger(name, value(), 1, 256));
        } else if (name == "--max-upload") {
            options.maxUpload = parseInteger(name, value(), 1, std::numeric_limits<std::int64_t>::max());
        } else if (name == "--new-token") {
            options.newToken = true;
        } else {
            usageError("unknown option " + name);
        }
    }
    if (options.threads == 0) options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (options.dataFolder.empty()) options.dataFolder = defaultDataFolder();
    return options;
}

std::string serverUsageText() {
    return "Usage: crestdoubler-web [--bind ADDR] [--port N] [--data DIR] [--threads N] [--max-upload BYTES] "
           "[--new-token]\n"
           "A page in the browser that enlarges pictures and films 2:1, one job at a time.\n"
           "  --bind ADDR        address to listen on (default 127.0.0.1; anything else lets\n"
           "                     whoever has the URL use this machine)\n"
           "  --port N           port (default 8080; 0 takes a free one)\n"
           "  --data DIR         jobs, results and the token (default\n"
           "                     $XDG_DATA_HOME/crestdoubler-web or ~/.local/share/crestdoubler-web)\n"
           "  --threads N        instances of the module (default: one per core)\n"
           "  --max-upload BYTES largest upload accepted (default 8 GiB)\n"
           "  --new-token        replace the token kept in DIR, locking out old URLs\n";
}

std::string defaultDataFolder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return std::string(data) + "/crestdoubler-web";
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0')
        throw CommandError("neither XDG_DATA_HOME nor HOME is set: name a folder with --data", ExitStatus::usage);
    return std::string(home) + "/.local/share/crestdoubler-web";
}

}  // namespace crest::cli

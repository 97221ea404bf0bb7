// The server's socket, opened before the HTTP library starts so that the
// port it got (for --port 0) is known to the checks and the printed URL.
#pragma once

#include <string>

namespace crest::cli {

struct ListeningSocket {
    int fd = -1;
    int port = 0;
    bool loopback = false;  // only this machine can reach it
};

// Throws CommandError naming the address.
ListeningSocket openListeningSocket(const std::string& address, int port);

}  // namespace crest::cli

#include "cli/web/listening_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"

namespace crest::cli {

namespace {

bool isLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    if (address->sa_family == AF_INET6)
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
    return false;
}

}  // namespace

ListeningSocket openListeningSocket(const std::string& address, int port) {
    std::string host = address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); status != 0)
        throw CommandError("cannot listen on " + address + ": " + gai_strerror(status), ExitStatus::usage);
    ListeningSocket result;
    int reason = 0;
    for (const addrinfo* candidate = found; candidate != nullptr && result.fd < 0; candidate = candidate->ai_next) {
        const int fd = ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC, candidate->ai_protocol);
        if (fd < 0) {
            reason = errno;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd, candidate->ai_addr, candidate->ai_addrlen) != 0 || ::listen(fd, 256) != 0) {
            reason = errno;
            ::close(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        result.fd = fd;
        result.port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        result.loopback = isLoopback(candidate->ai_addr);
    }
    ::freeaddrinfo(found);
    if (result.fd < 0)
        throw CommandError("cannot listen on " + address + " port " + service + ": " + systemReason(reason));
    return result;
}

}  // namespace crest::cli

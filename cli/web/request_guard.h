// Who may use the server: requests that name it in Host (against DNS
// rebinding), that come from its own page when they change anything (against
// cross-site requests), and that carry the token.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace crest::cli {

// 0.0.0.0 or ::, which listen on every address.
bool isWildcard(const std::string& bind);
// An IPv6 address as a Host header or URL writes it: in brackets.
std::string bracketedAddress(const std::string& address);

class RequestGuard {
public:
    RequestGuard(std::string token, const std::string& bind, int port);

    // The Host header names the server: a loopback name or the bound
    // address, with the port.
    bool hostAllowed(const std::optional<std::string>& host) const;
    // No Origin (a script), or the server's own.
    bool originAllowed(const std::optional<std::string>& origin) const;
    // The cookie's token, or an Authorization: Bearer one, is the token.
    bool authorized(const std::optional<std::string>& cookie, const std::optional<std::string>& authorization) const;
    bool tokenMatches(const std::string& given) const;

    // The name of the cookie: with the port, as cookies do not tell ports
    // apart and two servers on one machine must not trade tokens.
    const std::string& cookieName() const { return cookieName_; }
    const std::string& token() const { return token_; }

private:
    std::string token_;
    std::string cookieName_;
    std::vector<std::string> hosts_;  // lower case, with the port
};

}  // namespace crest::cli

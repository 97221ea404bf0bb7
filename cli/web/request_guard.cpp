#include "cli/web/request_guard.h"

#include <algorithm>
#include <cctype>

#include "cli/web/access_token.h"

namespace crest::cli {

namespace {

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool isWildcard(const std::string& bind) { return bind == "0.0.0.0" || bind == "::" || bind == "[::]"; }

std::string bracketedAddress(const std::string& address) {
    if (address.find(':') == std::string::npos || address.front() == '[') return address;
    std::string bracketed(1, '[');
    bracketed += address;
    bracketed += ']';
    return bracketed;
}

RequestGuard::RequestGuard(std::string token, const std::string& bind, int port)
    : token_(std::move(token)), cookieName_("crestdoubler-web-" + std::to_string(port)) {
    std::vector<std::string> names = {"127.0.0.1", "localhost", "[::1]"};
    if (!isWildcard(bind)) names.push_back(bracketedAddress(bind));
    std::string suffix(1, ':');
    suffix += std::to_string(port);  // appended, as GCC 12 warns wrongly about ":" + a temporary
    for (const std::string& name : names) {
        hosts_.push_back(lowerCase(name) + suffix);
        if (port == 80) hosts_.push_back(lowerCase(name));
    }
}

bool RequestGuard::hostAllowed(const std::optional<std::string>& host) const {
    if (!host) return false;
    const std::string wanted = lowerCase(*host);
    return std::find(hosts_.begin(), hosts_.end(), wanted) != hosts_.end();
}

bool RequestGuard::originAllowed(const std::optional<std::string>& origin) const {
    if (!origin) return true;
    const std::string wanted = lowerCase(*origin);
    return std::any_of(hosts_.begin(), hosts_.end(),
                       [&](const std::string& host) { return wanted == "http://" + host; });
}

bool RequestGuard::tokenMatches(const std::string& given) const { return sameSecret(given, token_); }

bool RequestGuard::authorized(const std::optional<std::string>& cookie,
                              const std::optional<std::string>& authorization) const {
    if (cookie && tokenMatches(*cookie)) return true;
    static const std::string kBearer = "Bearer ";
    return authorization && authorization->size() > kBearer.size() &&
           std::equal(kBearer.begin(), kBearer.end(), authorization->begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                  std::tolower(static_cast<unsigned char>(b)); }) &&
           tokenMatches(authorization->substr(kBearer.size()));
}

}  // namespace crest::cli

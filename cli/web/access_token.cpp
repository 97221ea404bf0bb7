#include "cli/web/access_token.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/base/durable_files.h"

namespace crest::cli {

std::string randomHex(std::size_t count) {
    std::vector<unsigned char> bytes(count);
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw CommandError("cannot read the system's random source: " + systemReason(errno));
        filled += static_cast<std::size_t>(got);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : bytes) {
        token += kDigits[byte >> 4];
        token += kDigits[byte & 15];
    }
    return token;
}

namespace {

bool wellFormed(const std::string& token) {
    if (token.size() != 32) return false;
    for (const char c : token)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

std::string loadOrMakeToken(const std::string& folder, bool renew) {
    const std::string path = folder + "/token";
    if (!renew) {
        bool exists = false;
        std::string kept = readWholeFile(path, &exists);
        while (!kept.empty() && (kept.back() == '\n' || kept.back() == '\r')) kept.pop_back();
        if (exists && wellFormed(kept)) return kept;
    }
    const std::string token = randomHex(16);
    writeFileDurably(path, token + "\n");
    return token;
}

bool sameSecret(std::string_view given, std::string_view secret) {
    if (given.size() != secret.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return difference == 0;
}

}  // namespace crest::cli

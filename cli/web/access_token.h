// The secret that every request carries: 128 bits from the system's random
// source, kept in the data folder so that a restart keeps the URL working.
#pragma once

#include <string>
#include <string_view>

namespace crest::cli {

// The token kept in folder/token (mode 0600), made first when there is none
// or when renew is set. 32 lower-case hex digits. Throws CommandError.
std::string loadOrMakeToken(const std::string& folder, bool renew);

// bytes from the system's random source as lower-case hex digits. Throws
// CommandError.
std::string randomHex(std::size_t bytes);

// Compares in time that depends on the lengths only, so that the time a
// refusal takes tells nothing about how much of a guess was right.
bool sameSecret(std::string_view given, std::string_view secret);

}  // namespace crest::cli

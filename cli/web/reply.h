// An answer to one request, before the server adds the headers every answer carries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace crest::cli {

struct Reply {
    unsigned status = 200;
    std::string contentType = "application/json";
    std::string body;
    // A file's bytes instead of the body: fd is owned by the reply once set.
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // Bytes built into the executable, instead of the body.
    const unsigned char* staticData = nullptr;
    std::size_t staticSize = 0;
    std::vector<std::pair<std::string, std::string>> headers;
};

Reply jsonReply(unsigned status, const nlohmann::json& value);
// {"error": message}: the page shows the message as text.
Reply errorReply(unsigned status, const std::string& message);

}  // namespace crest::cli

// A file as an answer: its media type by extension, its download name, and
// the one byte range that players ask for when they seek.
#pragma once

#include <optional>
#include <string>

#include "cli/web/reply.h"

namespace crest::cli {

// The whole file, or the part rangeHeader (bytes=FIRST-LAST) asks for, with
// 206; 404 when the file cannot be opened.
Reply fileReply(const std::string& path, const std::string& downloadName,
                const std::optional<std::string>& rangeHeader);

}  // namespace crest::cli

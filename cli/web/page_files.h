// The page's files, built into the executable from cli/web/page/.
#pragma once

#include <cstddef>
#include <string>

namespace crest::cli {

struct PageFile {
    const char* path;  // as requested: "/", "/page.js", ...
    const char* contentType;
    const unsigned char* data;
    std::size_t size;
};

// Null when the page has no such file.
const PageFile* findPageFile(const std::string& path);

}  // namespace crest::cli

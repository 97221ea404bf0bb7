// A file's size and a hash of its bytes, to tell that a piece is still the
// one its journal entry describes.
#pragma once

#include <cstdint>
#include <string>

namespace crest::cli {

struct FileDigest {
    std::int64_t size = 0;
    std::string hash;  // hexadecimal
};

// The size and a hash of the bytes of the file at path, or of at most
// `limit` bytes from `offset`. Throws CommandError.
FileDigest digestFile(const std::string& path, std::int64_t offset = 0, std::int64_t limit = INT64_MAX);

}  // namespace crest::cli

// Files that must survive a crash once they count: flushed to the disk
// before anything that refers to them is written.
#pragma once

#include <cstdint>
#include <string>

namespace crest::cli {

// Flushes the file at path to the disk. Throws CommandError.
void syncFile(const std::string& path);
// Flushes a folder's entries (a rename into it) to the disk. Throws CommandError.
void syncFolder(const std::string& path);
// Writes text to path through a temporary file beside it, flushed, renamed
// over path, and the folder flushed: path holds the old text or the new,
// never a torn mix. Throws CommandError.
void writeFileDurably(const std::string& path, const std::string& text);

struct FileDigest {
    std::int64_t size = 0;
    std::string hash;  // hexadecimal
};
// The size and a hash of the bytes of the file at path, or of at most
// `limit` bytes from `offset`. Throws CommandError.
FileDigest digestFile(const std::string& path, std::int64_t offset = 0, std::int64_t limit = INT64_MAX);

}  // namespace crest::cli

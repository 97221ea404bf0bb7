// Files of the data folder that must survive a crash: written to a temporary
// file, flushed, renamed over the old one, and the folder flushed after.
#pragma once

#include <string>

namespace crest::cli {

// Creates the folder (and its parents) when missing and makes it mode 0700.
// Throws CommandError.
void makePrivateFolder(const std::string& path);

// Replaces path with contents (mode 0600) so that after a crash it holds
// either the old or the new contents. Throws CommandError.
void writeFileDurably(const std::string& path, const std::string& contents);

// Flushes a file's data, or a folder's entries, to the disk. Throws CommandError.
void syncPath(const std::string& path);

// The whole file, or nothing when it does not exist. Throws CommandError on
// any other failure.
std::string readWholeFile(const std::string& path, bool* exists);

}  // namespace crest::cli

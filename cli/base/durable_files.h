// Files that must survive a crash once they count: written to a temporary
// file, flushed to the disk, renamed over the old one, and the folder
// flushed after, before anything that refers to them is written.
#pragma once

#include <string>

namespace crest::cli {

// Flushes a file's data, or a folder's entries (a rename into it), to the
// disk. Throws CommandError.
void syncPath(const std::string& path);

// Replaces path with contents (mode 0600) through a temporary file beside it,
// so that after a crash it holds the old contents or the new, never a torn
// mix. Throws CommandError.
void writeFileDurably(const std::string& path, const std::string& contents);

// The whole file, or nothing when it does not exist. Throws CommandError on
// any other failure.
std::string readWholeFile(const std::string& path, bool* exists);

// Creates the folder (and its parents) when missing and makes it mode 0700.
// Throws CommandError.
void makePrivateFolder(const std::string& path);

}  // namespace crest::cli

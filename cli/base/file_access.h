// Opening the command's files, and replacing an output file only when it is complete.
#pragma once

#include <cstdio>
#include <string>

#include "cli/base/temporary_output.h"

namespace crest::cli {

// Puts standard input and output in binary mode where the platform has a text mode.
void useBinaryStandardStreams();

// Opens an input file for binary reading, or standard input for "-".
// Throws CommandError naming the file.
std::FILE* openInputFile(const std::string& path);

// Throws CommandError unless the folder an output path names exists.
void checkOutputFolder(const std::string& path);

// The folder a path names a file in: "." for a bare file name.
std::string folderOf(const std::string& path);

// The system's explanation of errno, for messages.
std::string systemReason(int error);

// A stream into a temporary file beside the output, renamed over it by
// commit(); dropped without commit, it is removed.
class ReplacingOutputFile {
public:
    explicit ReplacingOutputFile(std::string path);
    ~ReplacingOutputFile();
    ReplacingOutputFile(const ReplacingOutputFile&) = delete;
    ReplacingOutputFile& operator=(const ReplacingOutputFile&) = delete;

    std::FILE* stream() { return stream_; }
    void commit();

private:
    TemporaryOutput file_;
    std::FILE* stream_ = nullptr;
};

}  // namespace crest::cli

// Opening the command's files, and replacing an output file only when it is complete.
#pragma once

#include <cstdio>
#include <string>

namespace crest::cli {

// Puts standard input and output in binary mode where the platform has a text mode.
void useBinaryStandardStreams();

// Opens an input file for binary reading, or standard input for "-".
// Throws CommandError naming the file.
std::FILE* openInputFile(const std::string& path);

// Throws CommandError unless the folder an output path names exists.
void checkOutputFolder(const std::string& path);

// The system's explanation of errno, for messages.
std::string systemReason(int error);

// A temporary file beside the output, renamed over it by commit(); dropped
// without commit, it is removed, so a failure leaves no partial output.
class ReplacingOutputFile {
public:
    explicit ReplacingOutputFile(std::string path);
    ~ReplacingOutputFile();
    ReplacingOutputFile(const ReplacingOutputFile&) = delete;
    ReplacingOutputFile& operator=(const ReplacingOutputFile&) = delete;

    std::FILE* stream() { return stream_; }
    void commit();

private:
    std::string path_;
    std::string temporaryPath_;
    std::FILE* stream_ = nullptr;
};

}  // namespace crest::cli

#include "cli/media/raw/raw_stream.h"

#include <cerrno>

#include "cli/app/command_error.h"
#include "cli/app/file_access.h"

namespace crest::cli {

RawFrameReader::RawFrameReader(const std::string& path, FrameSize size)
    : path_(path), stream_(openInputFile(path)), size_(size) {}

RawFrameReader::~RawFrameReader() {
    if (stream_ != stdin) std::fclose(stream_);
}

bool RawFrameReader::readFrame(FrameBitmap& frame) {
    // The bitmap is top-down without padding: the frame is one block of bytes.
    const std::size_t frameBytes = frame.contiguousBytes();
    const std::size_t got = std::fread(frame.contiguousPixels(), 1, frameBytes, stream_);
    if (got == frameBytes) {
        ++framesRead_;
        return true;
    }
    const std::string name = describePath(path_, true);
    if (std::ferror(stream_)) throw CommandError("cannot read raw input " + name + ": " + systemReason(errno));
    if (got > 0)
        throw CommandError("raw input " + name + " ends in a partial frame: " + std::to_string(got) + " of " +
                           std::to_string(frameBytes) + " bytes after " + std::to_string(framesRead_) +
                           " complete frames of " + std::to_string(size_.width) + "x" +
                           std::to_string(size_.height) + " (is --size right?)");
    if (framesRead_ == 0) throw CommandError("raw input " + name + " is empty: it holds no frame");
    return false;
}

RawFrameWriter::RawFrameWriter(std::string path) : path_(std::move(path)) {
    if (path_ == "-") stream_ = stdout;
}

RawFrameWriter::~RawFrameWriter() {
    if (stream_ == nullptr) return;
    // Complete frames stay, also when a later frame failed.
    if (stream_ == stdout)
        std::fflush(stream_);
    else
        std::fclose(stream_);
}

void RawFrameWriter::fail(int error) {
    throw CommandError("cannot write raw output " + describePath(path_, false) + ": " + systemReason(error));
}

void RawFrameWriter::writeFrame(const FrameBitmap& frame) {
    if (stream_ == nullptr) {
        stream_ = std::fopen(path_.c_str(), "wb");
        if (stream_ == nullptr) fail(errno);
    }
    if (std::fwrite(frame.contiguousPixels(), 1, frame.contiguousBytes(), stream_) != frame.contiguousBytes())
        fail(errno);
}

void RawFrameWriter::finish() {
    if (stream_ == nullptr) return;
    if (std::fflush(stream_) != 0) fail(errno);
    if (stream_ != stdout) {
        std::FILE* stream = stream_;
        stream_ = nullptr;
        if (std::fclose(stream) != 0) fail(errno);
    }
}

}  // namespace crest::cli

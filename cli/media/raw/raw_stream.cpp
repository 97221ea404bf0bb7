#include "cli/media/raw/raw_stream.h"

#include <cerrno>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"

namespace crest::cli {

RawFrameReader::RawFrameReader(const std::string& path, FrameSize size)
    : path_(path), stream_(openInputFile(path)), size_(size) {}

RawFrameReader::~RawFrameReader() {
    if (stream_ != stdin) std::fclose(stream_);
}

bool RawFrameReader::readFrame(FrameBitmap& frame, FrameTiming& timing) {
    // The bitmap is top-down without padding: the frame is one block of bytes.
    const std::size_t frameBytes = frame.contiguousBytes();
    const std::size_t got = std::fread(frame.contiguousPixels(), 1, frameBytes, stream_);
    if (got == frameBytes) {
        timing = FrameTiming{framesRead_, 1};
        ++framesRead_;
        return true;
    }
    if (got > 0 || std::ferror(stream_) || framesRead_ == 0) endedInside(got, frameBytes);
    return false;
}

void RawFrameReader::endedInside(std::size_t got, std::size_t frameBytes) {
    const std::string name = describePath(path_, true);
    if (std::ferror(stream_)) throw CommandError("cannot read raw input " + name + ": " + systemReason(errno));
    if (got > 0)
        throw CommandError("raw input " + name + " ends in a partial frame: " + std::to_string(got) + " of " +
                           std::to_string(frameBytes) + " bytes after " + std::to_string(framesRead_) +
                           " complete frames of " + std::to_string(size_.width) + "x" +
                           std::to_string(size_.height) + " (is --size right?)");
    throw CommandError("raw input " + name + " is empty: it holds no frame");
}

void RawFrameReader::readRows(std::span<FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(size_.width);
    const std::size_t frameBytes = rowBytes * static_cast<std::size_t>(size_.height);
    for (std::int32_t r = 0; r < count; ++r, ++rowsRead_) {
        const std::size_t got = std::fread(planes[0]->row(at + r), 1, rowBytes, stream_);
        if (got != rowBytes) endedInside(rowBytes * static_cast<std::size_t>(rowsRead_) + got, frameBytes);
    }
    if (rowsRead_ < size_.height) return;
    ++framesRead_;
    const int next = std::fgetc(stream_);
    if (next == EOF) {
        if (std::ferror(stream_)) endedInside(0, frameBytes);
        return;
    }
    throw CommandError("output " + pictureOutput_ + " is a picture, which holds one frame, but the input has more");
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

void RawFrameWriter::write(const std::uint8_t* bytes, std::size_t count) {
    if (stream_ == nullptr) {
        stream_ = std::fopen(path_.c_str(), "wb");
        if (stream_ == nullptr) fail(errno);
    }
    if (std::fwrite(bytes, 1, count, stream_) != count) fail(errno);
}

void RawFrameWriter::writeFrame(const FrameBitmap& frame, const FrameTiming&) {
    write(frame.contiguousPixels(), frame.contiguousBytes());
}

void RawFrameWriter::writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    // The rows of a top-down bitmap without padding follow one another.
    const FrameBitmap& colour = *planes[0];
    write(colour.row(at), 4 * static_cast<std::size_t>(colour.width) * static_cast<std::size_t>(count));
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

// Raw frames: width x height pixels of 4 bytes each, frame after frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/pipeline/frame_stream.h"
#include "cli/pipeline/picture_bands.h"
#include "cli/base/frame_size.h"

namespace crest::cli {

// Reads blue, green, red, unused pixels one frame at a time into bitmaps the
// caller provides; or, for a picture output, its one frame row by row.
class RawFrameReader final : public SequentialFrameReader, public PictureSource {
public:
    RawFrameReader(const std::string& path, FrameSize size);
    ~RawFrameReader() override;

    // Reads the next frame into a contiguous bitmap of frameSize(), timed by
    // its number from 0 and lasting 1; false at the end of the input. Throws
    // when the stream ends inside a frame or holds no frame at all.
    bool readFrame(FrameBitmap& frame, FrameTiming& timing) override;

    FrameSize frameSize() const override { return size_; }

    // The one frame of a stream that goes into a picture. Reading its last
    // row throws when the stream holds more.
    std::int32_t width() const override { return size_.width; }
    std::int32_t height() const override { return size_.height; }
    int planeCount() const override { return 1; }
    void readRows(std::span<FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;
    // Names the picture in the message for a second frame.
    void setPictureOutput(std::string path) { pictureOutput_ = std::move(path); }

private:
    [[noreturn]] void endedInside(std::size_t got, std::size_t frameBytes);

    std::string path_;
    std::string pictureOutput_;
    std::int32_t rowsRead_ = 0;
    std::FILE* stream_;
    FrameSize size_;
    std::int64_t framesRead_ = 0;
};

// Writes each enlarged frame's words as they are: blue, green, red, luma tag;
// or a picture's enlargement row by row (its colour plane).
// A file is created only when the first row is ready, so a run that fails
// before it leaves no empty file behind.
class RawFrameWriter final : public FrameWriter, public PictureSink {
public:
    explicit RawFrameWriter(std::string path);
    ~RawFrameWriter() override;

    // The timing has no place in a raw stream.
    void writeFrame(const FrameBitmap& frame, const FrameTiming& timing) override;
    void writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;
    void finish() override;

private:
    void write(const std::uint8_t* bytes, std::size_t count);
    void fail(int error);

    std::string path_;
    std::FILE* stream_ = nullptr;
};

}  // namespace crest::cli

// Raw frames: width x height pixels of 4 bytes each, frame after frame.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/pipeline/frame_stream.h"
#include "cli/app/options.h"

namespace crest::cli {

// Reads blue, green, red, unused pixels one frame at a time into bitmaps the
// caller provides.
class RawFrameReader final : public SequentialFrameReader {
public:
    RawFrameReader(const std::string& path, FrameSize size);
    ~RawFrameReader() override;

    // Reads the next frame into a contiguous bitmap of frameSize(); false at
    // the end of the input. Throws when the stream ends inside a frame or
    // holds no frame at all.
    bool readFrame(FrameBitmap& frame) override;

    FrameSize frameSize() const override { return size_; }

private:
    std::string path_;
    std::FILE* stream_;
    FrameSize size_;
    std::int64_t framesRead_ = 0;
};

// Writes each enlarged frame's words as they are: blue, green, red, luma tag.
// A file is created only when the first frame is ready, so a run that fails
// before it leaves no empty file behind.
class RawFrameWriter final : public FrameWriter {
public:
    explicit RawFrameWriter(std::string path);
    ~RawFrameWriter() override;

    void writeFrame(const FrameBitmap& frame) override;
    void finish() override;

private:
    void fail(int error);

    std::string path_;
    std::FILE* stream_ = nullptr;
};

}  // namespace crest::cli

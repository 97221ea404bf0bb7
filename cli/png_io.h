// PNG images as single frames, through libpng.
#pragma once

#include <memory>
#include <string>

#include "cli/file_access.h"
#include "cli/frame_stream.h"

namespace crest::cli {

// Reads the whole image at construction, checking its header size against the
// frame limits before any pixel storage is made. Alpha is dropped, 16-bit
// channels keep their high byte, grey and palette images become RGB.
class PngFrameReader final : public FrameReader {
public:
    explicit PngFrameReader(const std::string& path);

    // The image once, then null.
    FrameBitmap* nextFrame() override;

private:
    std::unique_ptr<FrameBitmap> frame_;
    bool delivered_ = false;
};

// Writes one frame as 8-bit RGB, or RGBA with the luma tag as alpha, to a
// temporary file that replaces the output only when complete.
class PngFrameWriter final : public FrameWriter {
public:
    PngFrameWriter(std::string path, bool keepTags);

    void writeFrame(const FrameBitmap& frame) override;
    void finish() override;

private:
    std::string path_;
    bool keepTags_;
    std::unique_ptr<ReplacingOutputFile> file_;
};

}  // namespace crest::cli

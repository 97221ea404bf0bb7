// Where frames come from and where enlarged frames go, whatever the file format.
#pragma once

#include <cstdint>

#include "cli/frame_bitmap.h"

namespace crest::cli {

class FrameReader {
public:
    virtual ~FrameReader() = default;
    // Fills the reader's own bitmap with the next frame and returns it, or
    // returns null at the end of the input. Throws CommandError.
    virtual FrameBitmap* nextFrame() = 0;
};

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // Throws CommandError; frames written before a failure stay written
    // where the format allows it.
    virtual void writeFrame(const FrameBitmap& frame) = 0;
    // Called once after the last frame; the output is complete only then.
    virtual void finish() = 0;
};

}  // namespace crest::cli

// Where frames come from and where enlarged frames go, whatever the file format.
#pragma once

#include <cstdint>

#include "cli/hosting/frame_bitmap.h"
#include "cli/app/options.h"

namespace crest::cli {

// Frames of one size read in order into bitmaps the caller provides, as the
// pipeline that enlarges with several instances needs them.
class SequentialFrameReader {
public:
    virtual ~SequentialFrameReader() = default;
    virtual FrameSize frameSize() const = 0;
    // Fills a contiguous bitmap of frameSize(); false at the end. Throws CommandError.
    virtual bool readFrame(FrameBitmap& frame) = 0;
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

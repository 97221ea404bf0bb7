// Where frames come from and where enlarged frames go, whatever the file format.
#pragma once

#include <cstdint>

#include "cli/hosting/frame_bitmap.h"
#include "cli/base/frame_size.h"

namespace crest::cli {

// When a frame is shown, in the time base of the reader that read it (a raw
// stream counts frames). It travels with the frame through the pipeline.
struct FrameTiming {
    std::int64_t pts = 0;
    std::int64_t duration = 0;
};

// Frames of one size read in order into bitmaps the caller provides, as the
// pipeline that enlarges with several instances needs them.
class SequentialFrameReader {
public:
    virtual ~SequentialFrameReader() = default;
    virtual FrameSize frameSize() const = 0;
    // Fills a contiguous bitmap of frameSize() and the frame's timing; false
    // at the end. Throws CommandError.
    virtual bool readFrame(FrameBitmap& frame, FrameTiming& timing) = 0;
};

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // Frames come in input order with the timing their source frame was read
    // with. Throws CommandError; frames written before a failure stay written
    // where the format allows it.
    virtual void writeFrame(const FrameBitmap& frame, const FrameTiming& timing) = 0;
    // Called once after the last frame; the output is complete only then.
    virtual void finish() = 0;
};

}  // namespace crest::cli

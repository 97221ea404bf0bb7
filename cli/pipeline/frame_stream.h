// Where frames come from and where enlarged frames go, whatever the file format.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

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

// Brings an enlarged frame to a size of its own, the one step that is not
// the module's. Each worker of a stream has one, used by one job at a time.
class FrameReducer {
public:
    virtual ~FrameReducer() = default;
    // The reduced frame, valid until the next call. Throws CommandError.
    virtual const FrameBitmap& reduce(const FrameBitmap& enlarged) = 0;
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

// Enlarging a stream of frames with several filter instances side by side.
#pragma once

#include "cli/hosting/filter_host.h"
#include "cli/pipeline/frame_stream.h"
#include "cli/app/progress_line.h"

namespace crest::cli {

// The calling thread reads frames in order into a bounded set of source
// bitmaps; each of `threads` workers owns one FilterInstance and enlarges
// whole frames; finished frames are written strictly in input order, each
// with the timing it was read with, by the worker holding the next one. At
// most 2 x threads source frames and one destination per worker exist at a
// time.
//
// Errors rank by frame: the earliest frame's error is thrown once every
// thread has stopped, after every frame before it has been written, so the
// output and the message are those of a single instance.
void enlargeStream(SequentialFrameReader& reader, FrameWriter& writer, const FilterModule& module, int threads,
                   ProgressLine& progress);

}  // namespace crest::cli

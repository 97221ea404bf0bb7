// Enlarging a stream of frames on a pool of filter instances.
#pragma once

#include <cstdint>

#include "cli/base/progress.h"
#include "cli/pipeline/frame_stream.h"
#include "cli/pipeline/instance_pool.h"

namespace crest::cli {

// What becomes of each frame: doubled `passes` times, every pass by an
// instance of its own, then reduced by a reducer of each worker's when
// makeReducer is set.
struct StreamEnlargement {
    int passes = 1;
    std::function<std::unique_ptr<FrameReducer>()> makeReducer;
};

// The calling thread reads frames in order into a bounded set of source
// bitmaps and hands each to the pool as one job; a job enlarges its frame
// with its worker's instance and, once every earlier frame is written,
// writes it with the timing it was read with. At most 2 x pool.size()
// source frames and one destination per instance exist at a time.
//
// Errors rank by frame: the earliest frame's error is thrown once every job
// has ended, after every frame before it has been written, so the output
// and the message are those of a single instance. The pool serves this
// stream alone while it runs: its jobs start in frame order, so the job
// holding the next frame to write never waits behind a later one.
// A job that is cancelled stops reading and fails with JobCancelled.
void enlargeStream(SequentialFrameReader& reader, FrameWriter& writer, InstancePool& pool, Progress& progress,
                   const StreamEnlargement& enlargement = {});

// A whole stream: every frame enlarged and written, the writer finished.
// Each frame written advances the progress by one, so that several streams
// of one job (a film's pieces) add up; its total is the caller's to set.
void enlargeWholeStream(SequentialFrameReader& reader, FrameWriter& writer, InstancePool& pool, Progress& progress,
                        const StreamEnlargement& enlargement = {});

}  // namespace crest::cli

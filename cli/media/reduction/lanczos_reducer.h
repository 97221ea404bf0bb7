// Frames brought down to a target size by libswscale's Lanczos filter, in
// bit-exact mode, so that every machine gives the same words.
#pragma once

#include <functional>
#include <memory>

#include "cli/base/frame_size.h"
#include "cli/base/scale.h"
#include "cli/pipeline/frame_pipeline.h"
#include "cli/pipeline/frame_stream.h"

namespace crest::cli {

// Makes a reducer of frames of size `from` to size `to`, one per worker.
std::function<std::unique_ptr<FrameReducer>()> lanczosReducer(FrameSize from, FrameSize to);

// What becomes of each frame of a stream of this size: its doublings, and
// the reduction to the target when there is one.
StreamEnlargement streamEnlargementFor(const Enlargement& enlargement, FrameSize source);

}  // namespace crest::cli

// Picks the writer for the format an output path names.
#pragma once

#include <memory>

#include "cli/pipeline/frame_stream.h"
#include "cli/app/options.h"

namespace crest::cli {

// A raw stream, or a picture that holds one frame.
std::unique_ptr<FrameWriter> openFrameWriter(const Options& options);

}  // namespace crest::cli

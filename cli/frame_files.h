// Picks the reader and writer for the formats the paths name.
#pragma once

#include <memory>

#include "cli/frame_stream.h"
#include "cli/options.h"

namespace crest::cli {

std::unique_ptr<FrameReader> openFrameReader(const Options& options);
std::unique_ptr<FrameWriter> openFrameWriter(const Options& options);

}  // namespace crest::cli

// Films: a video stream decoded with libavcodec, enlarged by the module, and
// encoded into a new container with every other stream copied as it is.
#pragma once

#include "cli/app/options.h"

namespace crest::cli {

// Enlarges options.input into options.output (both video kinds), with
// options.threads filter instances side by side. The output is written to a
// temporary file and renamed when complete. Throws CommandError.
void enlargeFilm(const Options& options);

}  // namespace crest::cli

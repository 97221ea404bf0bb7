// Films: a video stream decoded with libavcodec, enlarged by the module in
// pieces that survive an interrupted run, and joined with every other stream
// copied as it is.
#pragma once

#include "cli/app/options.h"

namespace crest::cli {

// Enlarges options.input into options.output (both video kinds), with
// options.threads filter instances side by side. The pieces go into a work
// folder beside the output, which a run stopped by anything resumes from;
// the output is written to a temporary file and renamed when complete.
// Throws CommandError.
void enlargeFilm(const Options& options);

}  // namespace crest::cli

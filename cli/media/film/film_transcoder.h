// Films: a video stream decoded with libavcodec, enlarged by the module in
// pieces that survive an interrupted run, and joined with every other stream
// copied as it is.
#pragma once

#include <string>

#include "cli/base/frame_size.h"
#include "cli/base/progress.h"
#include "cli/base/scale.h"
#include "cli/media/film/film_settings.h"
#include "cli/pipeline/shared_pool.h"

namespace crest::cli {

// Enlarges input into output (both films) with every instance of the pool;
// progress counts the frames this run makes. The pieces go into a work
// folder beside the output, which a run stopped by anything resumes from;
// the output is written to a temporary file and renamed when complete.
// Returns the size of its frames. Throws CommandError.
FrameSize enlargeFilm(const std::string& input, const std::string& output, const FilmSettings& settings,
                      const ScaleRequest& scale, SharedPool& pool, Progress& progress);

}  // namespace crest::cli

// A picture enlarged 2, 4, 8... times: every pass a banded enlargement of
// the rows of the pass before.
#pragma once

#include "cli/base/progress.h"
#include "cli/pipeline/instance_pool.h"
#include "cli/pipeline/picture_bands.h"

namespace crest::cli {

// Enlarges source 2^passes times into sink. Each pass's bands are cut from
// the rows of the pass before as the first pass's are from the source, with
// their own halo, and handed on through a few bands' worth of rows: memory is
// bounded by the bands in flight, not by the picture. The passes before the
// last run on threads of their own, all of them on the one pool, each cut
// for `instances` of its instances. Progress counts the last pass's source
// rows. Throws the error of the earliest pass that failed.
void enlargePictureInPasses(PictureSource& source, PictureSink& sink, InstancePool& pool, int passes, int instances,
                            Progress* progress);

}  // namespace crest::cli

// Enlarging one picture, from its decoder through the pool's instances to
// its encoder.
#pragma once

#include <optional>
#include <string>

#include "cli/base/frame_size.h"
#include "cli/base/progress.h"
#include "cli/base/scale.h"
#include "cli/pipeline/shared_pool.h"

namespace crest::cli {

struct PictureSettings {
    std::optional<int> quality;  // lossy formats, 1 to 100; the format's default otherwise
    bool keepTags = false;       // the luma tag written as alpha
};

// What a picture is written as: a picture file, or the raw words of its
// enlargement.
enum class PictureOutput { picture, raw };

// input is a picture; output a picture or a raw stream. The picture is cut
// into bands and tiles for `instances` of the pool's instances (its share
// when several pictures are enlarged side by side). Progress counts source
// rows. Returns the enlargement's size. Throws CommandError.
FrameSize enlargePictureFile(const std::string& input, const std::string& output, PictureOutput kind,
                             const PictureSettings& settings, const ScaleRequest& scale, SharedPool& pool,
                             int instances, Progress& progress);

// input is a raw stream of one frame of the given size; output a picture.
// Returns the enlargement's size. Throws CommandError.
FrameSize enlargeRawFrameIntoPicture(const std::string& input, FrameSize size, const std::string& output,
                                     const PictureSettings& settings, const ScaleRequest& scale, SharedPool& pool,
                                     Progress& progress);

}  // namespace crest::cli

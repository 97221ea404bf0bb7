// One image doubled one or more times by a few workers, each taking whole
// strips of the result with their halo, so the result is the single-frame
// result word for word.
#pragma once

#include <cstdint>

#include "engine/frame_driver.h"
#include "lib/pixel_formats.h"

namespace crest::library {

// Arguments already checked: sizes at least 1, each pass's width within the
// engine's limit, strides large enough. passes and workers >= 1.
EnlargeStatus enlargeInStrips(crestdoubler_format format, const ImageRows& source, std::int32_t width,
                              std::int32_t height, const ImageRows& destination, int passes, int workers);

}  // namespace crest::library

// One image enlarged by a few workers, each taking whole strips with their
// halo, so the result is the single-frame result word for word.
#pragma once

#include <cstdint>

#include "lib/pixel_formats.h"

namespace crest::library {

// Arguments already checked: sizes at least 1, width within the engine's
// limit, strides large enough. workers >= 1. Returns a crestdoubler code.
int enlargeInStrips(crestdoubler_format format, const ImageRows& source, std::int32_t width, std::int32_t height,
                    const ImageRows& destination, int workers);

}  // namespace crest::library

// Bounds against decompression bombs, checked before any pixel storage is made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cli/base/frame_size.h"
#include "cli/media/picture/picture_formats.h"

namespace crest::cli {

// Most pixels a side of a picture may have; its enlargement's rows stay
// within a 32-bit pitch.
inline constexpr std::int32_t kMaxPictureSide = 1 << 20;
// Deflate's densest packing, and a little above what the other codecs reach on
// pictures that are not flat.
inline constexpr std::int64_t kDenseFileRatio = 1032;

struct DecodeLimits {
    std::int32_t maxWidth = kMaxPictureSide;
    std::int32_t maxHeight = kMaxPictureSide;
    // Beyond this many pixels, a file of a format without a bound of its own
    // must hold a byte per kDenseFileRatio bytes of pixels.
    std::int64_t uncheckedPixels = std::int64_t{kMaxSourceWidth} * kMaxSourceHeight;
};

// The fewest bytes a complete file of this header can have, by its format's
// coding where it gives a useful bound, else by kDenseFileRatio beyond
// limits.uncheckedPixels; 0 when nothing is asked.
std::uint64_t leastFileBytes(PictureFormatId format, const std::uint8_t* bytes, std::size_t size, std::uint64_t width,
                             std::uint64_t height, std::uint64_t bands, const DecodeLimits& limits);

}  // namespace crest::cli

// Frame sizes and the largest frame the module takes at once.
#pragma once

#include <cstdint>

namespace crest::cli {

// Largest source frame the module takes at once, so the largest raw frame or
// film frame, checked before any pixel storage is made; pictures beyond it
// go in tiles. Its enlargement, 32768 x 16384, is within what the module can address.
inline constexpr std::int32_t kMaxSourceWidth = 16384;
inline constexpr std::int32_t kMaxSourceHeight = 8192;

struct FrameSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

}  // namespace crest::cli

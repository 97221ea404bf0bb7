// The C API's pixel layouts to and from the engine's 32-bit pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crestdoubler.h"
#include "engine/frame_tiles.h"

namespace crest::library {

struct FormatLayout {
    int bytes;      // per pixel
    bool hasAlpha;  // enlarged as a second, grey image
};

// Null for a value outside the enum.
const FormatLayout* layoutOf(crestdoubler_format format);

// An image of the caller's as the API describes it; row y at pixels + y * stride.
struct ImageRows {
    std::uint8_t* pixels;
    std::ptrdiff_t stride;

    std::uint8_t* row(std::int32_t y) const { return pixels + y * stride; }
};

enum class Plane { colour, alpha };

// Converts the region of the image into engine pixels, row after row, with
// no gap: colour as blue, green, red; alpha (or grey) as a grey pixel.
void loadPlane(crestdoubler_format format, Plane plane, const ImageRows& image, const SourceRect& region,
               std::uint32_t* out);

// Writes width x height engine pixels (rows `stride` bytes apart) into the
// image at (x, y): the colour bytes, or one byte of the grey as alpha or grey.
void storePlane(crestdoubler_format format, Plane plane, const std::uint8_t* pixels, std::ptrdiff_t stride,
                std::int32_t width, std::int32_t height, const ImageRows& image, std::int32_t x, std::int32_t y);

}  // namespace crest::library

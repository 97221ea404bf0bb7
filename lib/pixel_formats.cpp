#include "lib/pixel_formats.h"

#include <cstring>

namespace crest::library {

namespace {

constexpr FormatLayout kLayouts[] = {
    {4, false},  // BGRX
    {4, true},   // BGRA
    {4, true},   // RGBA
    {3, false},  // BGR
    {3, false},  // RGB
    {1, false},  // GRAY
};

// Where red and blue sit among a pixel's bytes.
bool redFirst(crestdoubler_format format) { return format == CRESTDOUBLER_RGBA || format == CRESTDOUBLER_RGB; }

std::uint32_t grey(std::uint8_t value) { return value * 0x00010101u; }

}  // namespace

const FormatLayout* layoutOf(crestdoubler_format format) {
    const auto index = static_cast<unsigned>(format);
    return index < sizeof kLayouts / sizeof kLayouts[0] ? &kLayouts[index] : nullptr;
}

void loadPlane(crestdoubler_format format, Plane plane, const ImageRows& image, const SourceRect& region,
               std::uint32_t* out) {
    const int bytes = layoutOf(format)->bytes;
    const bool swap = redFirst(format);
    for (std::int32_t y = region.y; y < region.y + region.height; ++y) {
        const std::uint8_t* in = image.row(y) + static_cast<std::ptrdiff_t>(region.x) * bytes;
        for (std::int32_t x = 0; x < region.width; ++x, in += bytes) {
            if (format == CRESTDOUBLER_GRAY) *out++ = grey(in[0]);
            else if (plane == Plane::alpha) *out++ = grey(in[3]);
            else if (swap) *out++ = in[2] | in[1] << 8 | static_cast<std::uint32_t>(in[0]) << 16;
            else *out++ = in[0] | in[1] << 8 | static_cast<std::uint32_t>(in[2]) << 16;
        }
    }
}

void storePlane(crestdoubler_format format, Plane plane, const std::uint8_t* pixels, std::ptrdiff_t stride,
                std::int32_t width, std::int32_t height, const ImageRows& image, std::int32_t x, std::int32_t y) {
    const int bytes = layoutOf(format)->bytes;
    const bool swap = redFirst(format);
    for (std::int32_t row = 0; row < height; ++row) {
        const std::uint8_t* in = pixels + row * stride;
        std::uint8_t* out = image.row(y + row) + static_cast<std::ptrdiff_t>(x) * bytes;
        if (format == CRESTDOUBLER_BGRX) {
            std::memcpy(out, in, 4 * static_cast<std::size_t>(width));
            continue;
        }
        for (std::int32_t i = 0; i < width; ++i, in += 4, out += bytes) {
            if (format == CRESTDOUBLER_GRAY) {
                out[0] = in[0];
            } else if (plane == Plane::alpha) {
                out[3] = in[0];
            } else {
                out[0] = in[swap ? 2 : 0];
                out[1] = in[1];
                out[2] = in[swap ? 0 : 2];
            }
        }
    }
}

}  // namespace crest::library

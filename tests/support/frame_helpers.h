// Running the engine on generated pictures, for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/enlarger.h"
#include "tests/support/picture_generator.h"
#include "tests/support/plain_frame.h"

namespace crest::testing {

// What testing::enlarge puts in every destination pixel before the engine
// runs: any left in the frame were never written.
inline constexpr std::uint32_t kUnwrittenPixel = 0xBAADF00Du;

// Copies a picture into a bitmap of its size.
void loadPicture(PlainFrame& frame, const pictures::Picture& picture);

// The destination's pixels, row-major, whatever its pitch.
std::vector<std::uint32_t> framePixels(const PlainFrame& frame);

struct EnlargedFrame {
    std::int32_t result = -1;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(std::int32_t x, std::int32_t y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

struct BitmapLayout {
    std::int32_t rowPadding = 0;
    bool bottomUp = false;
};

// Enlarges the picture with the given state through enlargeFrame.
EnlargedFrame enlarge(EnlargerState& state, const pictures::Picture& picture, BitmapLayout source = {},
                      BitmapLayout destination = {});

// The same with a fresh state.
EnlargedFrame enlarge(const pictures::Picture& picture, BitmapLayout source = {}, BitmapLayout destination = {});

// Through the enlargeFrame that takes the kernels, with a fresh state.
EnlargedFrame enlarge(const pictures::Picture& picture, const EngineKernels& kernels);

// Through enlargeFrameWithoutPool, with the given state.
EnlargedFrame enlargeWithoutPool(EnlargerState& state, const pictures::Picture& picture);

}  // namespace crest::testing

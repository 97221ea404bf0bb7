// A slow, obviously correct enlargement written straight from the definition
// of each pixel class, for comparison with the engine's memoised one.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "engine/moment_record.h"
#include "tests/support/picture_generator.h"

namespace crest::reference {

struct Step {
    int dx;
    int dy;
};
using Directions = std::array<Step, 4>;

inline constexpr Directions kDiagonal = {{{-1, -1}, {-1, 1}, {1, 1}, {1, -1}}};
inline constexpr Directions kAxial = {{{0, -1}, {-1, 0}, {0, 1}, {1, 0}}};

// A destination frame as plain row-major words.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * width + x]; }
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    int tag(int x, int y) const { return static_cast<int>(at(x, y) >> 24); }
};

// Level-0 products of the sample at (x, y): neighbours two steps away.
MomentRecord sampleRecord(const Frame& frame, int x, int y, const Directions& directions);

// The 64-sample window sum of target (x, y), by plain recursion over the
// pyramid's nodes, clamping every node onto the inner frame.
MomentRecord windowSum(const Frame& frame, int x, int y, const Directions& directions);

// The positions of the 64 samples of the window of (x, y), repeats included.
std::vector<Step> windowSamples(const Frame& frame, int x, int y, const Directions& directions);

// The finished frame for a picture, built pixel class by pixel class.
Frame enlarge(const pictures::Picture& picture);

}  // namespace crest::reference

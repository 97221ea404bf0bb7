// Eight targets of a pass row at once (every second pixel, so fifteen
// pixels): their neighbours gathered, the activity test and the smooth fill
// stored, in one vector step where the processor has AVX2.
#pragma once

#include <cstdint>

namespace crest {

// Stores the smooth fill of the targets at `first` + 0, 2, .., 14 pixels
// and returns bit k set when target k is active (activity >= threshold).
// Reads the four neighbour groups `offset[j]` bytes away, pixels 0..14 of
// each.
using FillEightTargets = int (*)(std::uint8_t* first, const std::int32_t (&offset)[4], std::int32_t threshold);

#if defined(CREST_SOLVE_AVX)
int fillEightTargetsAvx2(std::uint8_t* first, const std::int32_t (&offset)[4], std::int32_t threshold);
#endif

}  // namespace crest

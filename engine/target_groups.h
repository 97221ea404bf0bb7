// Groups of eight targets of a pass row (every second pixel, so fifteen
// pixels a group): their neighbours gathered, the activity test and the
// smooth fill stored, one vector step a group, where the processor has AVX2.
// A run of groups a call keeps the call and the constants out of the step.
#pragma once

#include <cstdint>

namespace crest {

// For each of `groups` groups of eight targets, group g at `first` + 16g
// pixels (targets every second pixel): stores the smooth fill of its targets
// and sets masks[g] bit k when target k is active (activity >= threshold).
// Group g reads pixels 0..14 of its four neighbour groups, `offset[j]` bytes
// away.
using FillTargetGroups = void (*)(std::uint8_t* first, std::int32_t groups, const std::int32_t (&offset)[4],
                                  std::int32_t threshold, std::uint8_t* masks);

#if defined(CREST_SOLVE_AVX)
void fillTargetGroupsAvx2(std::uint8_t* first, std::int32_t groups, const std::int32_t (&offset)[4],
                          std::int32_t threshold, std::uint8_t* masks);
#endif

}  // namespace crest

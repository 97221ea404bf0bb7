// The edge-directed (least-squares) estimate of one target pixel.
#pragma once

#include <cstdint>

#include "engine/moment_record.h"
#include "engine/tagged_pixel.h"

namespace crest {

// Pivots below this magnitude drop their direction from the solve.
inline constexpr double kSmallestPivot = 10.0;

// Fits four weights to the window's moment sums (4x4 normal equations,
// partial pivoting) and applies them as a luma correction to the neighbours'
// mean colour. Neighbours come in NeighborSet order; their tags are not read.
TaggedPixel estimateEdgePixel(const MomentRecord& window, TaggedPixel n0, TaggedPixel n1, TaggedPixel n2,
                              TaggedPixel n3);

// A channel value as a byte: 0 at or below 0, 255 at or above 255, else truncated.
std::uint32_t channelToByte(float value);

// The least-squares weights alone, x_0..x_3, as the estimate computes them.
void solveEdgeWeights(const MomentRecord& window, float weights[4]);

}  // namespace crest

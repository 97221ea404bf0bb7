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

// The estimate from weights x_0..x_3 that solveEdgeWeights gave.
TaggedPixel applyEdgeWeights(const float weights[4], TaggedPixel n0, TaggedPixel n1, TaggedPixel n2, TaggedPixel n3);

// Windows gathered for one solve across targets: word w of window k at
// word[w][k], so that a vector load takes one word of several windows.
struct WindowBatch {
    static constexpr int kCapacity = 16;
    std::int32_t word[MomentRecord::kWords][kCapacity];
    int count;
};

// solveEdgeWeights for windows 0 .. count - 1 of the batch, weight j of
// window k into weights[j][k], with the widest vectors the processor has
// (chosen once) or the narrower ones a limit allows; every path gives
// solveEdgeWeights' bits. Words of windows count .. kCapacity - 1 must be
// set (to anything).
void solveEdgeWeightBatch(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]);

enum class SolveInstructions : std::int32_t { scalar, sse2, avx2, avx512 };

// The widest set solveEdgeWeightBatch uses: the processor's, unless lowered
// (tests run every path this way). Returns the set now in use.
SolveInstructions limitSolveInstructions(SolveInstructions widest);
SolveInstructions solveInstructionsInUse();

}  // namespace crest

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

// Windows gathered for one solve across targets: word w of window k at
// word[w][k] and its neighbour j at neighbor[j][k], so that a vector load
// takes one word of several windows. A pass solves a batch once it holds
// kSolveAt windows; the room beyond lets a group of four targets go in whole.
struct WindowBatch {
    static constexpr int kCapacity = 24;
    static constexpr int kSolveAt = 16;
    std::int32_t word[MomentRecord::kWords][kCapacity];
    TaggedPixel neighbor[4][kCapacity];
    int count;
};

// solveEdgeWeights for windows 0 .. count - 1 of a batch, weight j of window
// k into weights[j][k]; every path gives solveEdgeWeights' bits. Words of
// windows count .. kCapacity - 1 must be set (to anything).
using BatchSolver = void (*)(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]);

// estimateEdgePixel for windows 0 .. count - 1 of a batch and their
// neighbours, pixel k into pixels[k]; every path gives its bits. Words and
// neighbours beyond count must be set (to anything).
using BatchEstimator = void (*)(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]);

// One of each per instruction set: engineKernels (engine_kernels.h) picks them.

}  // namespace crest

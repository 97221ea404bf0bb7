// One interpolation pass: every target of one class gets a smooth fill or an
// edge-directed estimate from its four neighbours.
#pragma once

#include <cstdint>

#include "engine/engine_kernels.h"
#include "engine/enlarger_state.h"
#include "engine/positions.h"
#include "engine/tagged_pixel.h"

namespace crest {

// Targets whose neighbour tags give 4*sum(t^2) - (sum t)^2 at or above this
// (a tag variance of 128) are active; the rest are smooth-filled.
inline constexpr std::int32_t kActivityThreshold = 2048;

// 16 x the population variance of four luma tags.
constexpr std::int32_t tagActivity(std::int32_t t0, std::int32_t t1, std::int32_t t2, std::int32_t t3) {
    const std::int32_t sum = t0 + t1 + t2 + t3;
    return 4 * (t0 * t0 + t1 * t1 + t2 * t2 + t3 * t3) - sum * sum;
}

// Nested byte-wise average of the four neighbours, retagged from its colour.
TaggedPixel smoothFill(TaggedPixel n0, TaggedPixel n1, TaggedPixel n2, TaggedPixel n3);

// Writes the state's direction tables for the neighbour set.
void setPassDirections(EnlargerState& state, const NeighborSet& neighbors);

// Visits targets row by row from (startX, startY), every second column, to the
// exclusive bounds endX and endY. Active targets get their windows from
// pass_windows.h, kept in the state's cache storage: the same words as the
// pyramid's clampedLevelRecord gives. The diagonal pass (axial false) visits every
// second row from a fixed start column; the axial pass visits every row,
// alternating the start column between c and 3 - c. Runs the kernels of
// widestInstructionSet().
void interpolatePass(EnlargerState& state, std::uint8_t* base, std::int32_t pitch, std::int32_t startX,
                     std::int32_t startY, std::int32_t endX, std::int32_t endY, const NeighborSet& neighbors,
                     bool axial);

// The same with the given kernels (the same pixels with every set).
void interpolatePass(EnlargerState& state, std::uint8_t* base, std::int32_t pitch, std::int32_t startX,
                     std::int32_t startY, std::int32_t endX, std::int32_t endY, const NeighborSet& neighbors,
                     bool axial, const EngineKernels& kernels);

}  // namespace crest

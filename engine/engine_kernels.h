// The kernels of one instruction set that a frame's passes run, chosen once
// by whoever starts the frame and handed down to every pass.
#pragma once

#include "engine/band_rows.h"
#include "engine/edge_estimate.h"
#include "engine/instruction_set.h"
#include "engine/target_groups.h"

namespace crest {

struct EngineKernels {
    BatchSolver solveBatch;
    BatchEstimator estimateBatch;
    BandRowKernels bandRows;
    // Null where the set has no eight-target groups: the pass then takes its
    // targets four at a time.
    FillTargetGroups fillTargetGroups;
};

// The kernels of `set`, which the processor must have (processorHas). Every
// set gives the same frames word for word.
EngineKernels engineKernels(InstructionSet set);

// Those of widestInstructionSet(), built once: the route of the entry points
// that take no kernels.
const EngineKernels& widestEngineKernels();

}  // namespace crest

// Each instruction set's own pieces of EngineKernels, every one defined in a
// source file compiled for its set; only engineKernels picks among them.
#pragma once

#include "engine/band_rows.h"
#include "engine/edge_estimate.h"
#include "engine/target_groups.h"

namespace crest {

void solveEdgeWeightBatchSse2(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]);
void estimateEdgePixelBatchSse2(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]);
BandRowKernels bandRowKernelsSse2();

#if defined(CREST_SOLVE_AVX)
void solveEdgeWeightBatchAvx2(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]);
void estimateEdgePixelBatchAvx2(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]);
BandRowKernels bandRowKernelsAvx2();

void solveEdgeWeightBatchAvx512(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]);
void estimateEdgePixelBatchAvx512(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]);
BandRowKernels bandRowKernelsAvx512();
#endif

}  // namespace crest

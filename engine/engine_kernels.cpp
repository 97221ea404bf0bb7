#include "engine/engine_kernels.h"

#include "engine/kernels_by_set.h"

namespace crest {

EngineKernels engineKernels(InstructionSet set) {
    switch (set) {
#if defined(CREST_SOLVE_AVX)
        case InstructionSet::avx512:
            // The eight-target groups have no wider version than AVX2's.
            return {solveEdgeWeightBatchAvx512, estimateEdgePixelBatchAvx512, bandRowKernelsAvx512(),
                    fillTargetGroupsAvx2};
        case InstructionSet::avx2:
            return {solveEdgeWeightBatchAvx2, estimateEdgePixelBatchAvx2, bandRowKernelsAvx2(), fillTargetGroupsAvx2};
#endif
        default: return {solveEdgeWeightBatchSse2, estimateEdgePixelBatchSse2, bandRowKernelsSse2(), nullptr};
    }
}

const EngineKernels& widestEngineKernels() {
    static const EngineKernels widest = engineKernels(widestInstructionSet());
    return widest;
}

}  // namespace crest

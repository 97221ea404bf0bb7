// Tests run once per instruction set of the engine's kernels, each handing
// the kernels of its set down to what it runs: a set the processor lacks is
// reported as skipped, not passed.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/engine_kernels.h"

namespace crest::testing {

class EveryInstructionSet : public ::testing::TestWithParam<InstructionSet> {
protected:
    void SetUp() override {
        if (!processorHas(GetParam()))
            GTEST_SKIP() << "this processor lacks instruction set " << static_cast<int>(GetParam());
        kernels_ = engineKernels(GetParam());
    }

    InstructionSet set() const { return GetParam(); }
    const EngineKernels& kernels() const { return kernels_; }

private:
    EngineKernels kernels_{};
};

inline std::string instructionSetName(const ::testing::TestParamInfo<InstructionSet>& info) {
    switch (info.param) {
        case InstructionSet::sse2: return "Sse2";
        case InstructionSet::avx2: return "Avx2";
        default: return "Avx512";
    }
}

}  // namespace crest::testing

// Instantiates the TEST_Ps of `Fixture` (derived from EveryInstructionSet)
// for SSE2, AVX2 and AVX-512F.
#define CREST_FOR_EVERY_INSTRUCTION_SET(Fixture)                                                             \
    INSTANTIATE_TEST_SUITE_P(Sets, Fixture,                                                                  \
                             ::testing::Values(::crest::InstructionSet::sse2, ::crest::InstructionSet::avx2, \
                                               ::crest::InstructionSet::avx512),                             \
                             ::crest::testing::instructionSetName)

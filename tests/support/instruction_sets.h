// Tests run once per instruction set of the engine's routes: a set the
// processor lacks is reported as skipped, not passed, and every test leaves
// the widest set in force.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/edge_estimate.h"

namespace crest::testing {

class EveryInstructionSet : public ::testing::TestWithParam<SolveInstructions> {
protected:
    void SetUp() override {
        if (limitSolveInstructions(GetParam()) != GetParam()) {
            limitSolveInstructions(SolveInstructions::avx512);
            GTEST_SKIP() << "this processor lacks instruction set " << static_cast<int>(GetParam());
        }
    }
    void TearDown() override { limitSolveInstructions(SolveInstructions::avx512); }

    SolveInstructions set() const { return GetParam(); }
};

inline std::string instructionSetName(const ::testing::TestParamInfo<SolveInstructions>& info) {
    switch (info.param) {
        case SolveInstructions::sse2: return "Sse2";
        case SolveInstructions::avx2: return "Avx2";
        default: return "Avx512";
    }
}

}  // namespace crest::testing

// Instantiates the TEST_Ps of `Fixture` (derived from EveryInstructionSet)
// for SSE2, AVX2 and AVX-512F.
#define CREST_FOR_EVERY_INSTRUCTION_SET(Fixture)                                                                   \
    INSTANTIATE_TEST_SUITE_P(Sets, Fixture,                                                                        \
                             ::testing::Values(::crest::SolveInstructions::sse2, ::crest::SolveInstructions::avx2, \
                                               ::crest::SolveInstructions::avx512),                                \
                             ::crest::testing::instructionSetName)

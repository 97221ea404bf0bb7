#include "engine/instruction_set.h"

namespace crest {

namespace {

// libgcc's check also reads, with xgetbv, whether the OS saves the wider registers.
InstructionSet processorInstructionSet() {
#if defined(CREST_SOLVE_AVX)
    if (__builtin_cpu_supports("avx512f")) return InstructionSet::avx512;
    if (__builtin_cpu_supports("avx2")) return InstructionSet::avx2;
#endif
    return InstructionSet::sse2;
}

}  // namespace

InstructionSet widestInstructionSet() {
    static const InstructionSet widest = processorInstructionSet();
    return widest;
}

bool processorHas(InstructionSet set) {
    return static_cast<std::int32_t>(set) <= static_cast<std::int32_t>(widestInstructionSet());
}

}  // namespace crest

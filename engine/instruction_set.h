// The instruction sets the engine's kernels are compiled for, widest last.
#pragma once

#include <cstdint>

namespace crest {

// SSE2 everywhere; AVX2 and AVX-512F in x86 builds (32-bit ones included)
// whose processor and OS have them.
enum class InstructionSet : std::int32_t { sse2, avx2, avx512 };

// The widest set this processor has (cpuid is read once).
InstructionSet widestInstructionSet();

// Whether the engine's kernels of `set` can run here.
bool processorHas(InstructionSet set);

}  // namespace crest

// Turns one source frame into the destination frame of twice its size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_kernels.h"
#include "engine/enlarger_state.h"

namespace crest {

enum class EnlargeStatus : std::int32_t {
    ok = 0,
    // Empty source, destination not twice the source, a size or stride beyond
    // what the position encodings hold, or a missing pixel pointer. Nothing is
    // written.
    invalidGeometry = 1,
    // A pool block or cache storage could not be allocated; the frame is
    // incomplete, the state stays valid for later frames.
    outOfMemory = 2,
};

// Largest stride magnitude accepted: twice a neighbour offset must fit in 32 bits.
inline constexpr std::int32_t kMaxPitchBytes = (1 << 30) - 8;

// 32-bit pixels in memory: row r starts at pixels + r * stride bytes (a
// negative stride for bottom-up rows).
struct FrameView {
    std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::ptrdiff_t stride = 0;
};

struct ConstFrameView {
    const std::uint8_t* pixels = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::ptrdiff_t stride = 0;
};

// Stores the destination geometry in the state, rewinds the pool and sizes
// and clears the level caches for the whole frame: what the pyramid's own
// operations need before their first call. (A pass needs only the geometry:
// it keeps its bands in the caches' storage and sizes that itself.)
void prepareFrameState(EnlargerState& state, std::uint8_t* destinationPixels, std::int32_t width, std::int32_t height,
                       std::int32_t pitch);

// Whether the driver can enlarge source into destination.
bool frameGeometryIsValid(const FrameView& destination, const ConstFrameView& source);

// Seeds the source lattice with tagged pixels, fills the border ring and runs
// the diagonal and then the axial pass. The top bytes of the source are
// ignored. Returns an EnlargeStatus as an integer, 0 on success. Runs the
// kernels of widestInstructionSet().
std::int32_t enlargeFrame(EnlargerState& state, const FrameView& destination, const ConstFrameView& source);

// The same with the given kernels: the same frame word for word with every set.
std::int32_t enlargeFrame(EnlargerState& state, const FrameView& destination, const ConstFrameView& source,
                          const EngineKernels& kernels);

// The same route without the pool check: the passes keep their statistics in
// the cache storage and take no pool record, so a state built Detached (no
// pool block) enlarges here the frame enlargeFrame gives. The pool, if any, is
// neither read nor rewound; the pyramid's operations (window_pyramid.h) still
// need prepareFrameState on a state with a pool.
std::int32_t enlargeFrameWithoutPool(EnlargerState& state, const FrameView& destination, const ConstFrameView& source,
                                     const EngineKernels& kernels = widestEngineKernels());

}  // namespace crest

// Turns one source frame into the destination frame of twice its size.
#pragma once

#include <cstdint>

#include "engine/enlarger_state.h"
#include "host/host_interface.h"

namespace crest {

enum class EnlargeStatus : std::int32_t {
    ok = 0,
    // Empty source, destination not twice the source, a size or pitch beyond
    // what the position encodings hold, or a missing bitmap. Nothing but the
    // marker fill is written.
    invalidGeometry = 1,
    // A pool block or cache storage could not be allocated; the frame is
    // incomplete, the state stays valid for later frames.
    outOfMemory = 2,
};

// Largest pitch magnitude accepted: twice a neighbour offset must fit in 32 bits.
inline constexpr std::int32_t kMaxPitchBytes = (1 << 30) - 8;

// Stores the destination geometry in the state, rewinds the pool and sizes
// and clears the level caches for the whole frame: what the pyramid's own
// operations need before their first call. (A pass needs only the geometry:
// it keeps its bands in the caches' storage and sizes that itself.)
void prepareFrameState(EnlargerState& state, std::uint8_t* destinationPixels, std::int32_t width, std::int32_t height,
                       std::int32_t pitch);

// Whether the driver can enlarge source into destination.
bool frameGeometryIsValid(const HostBitmap& destination, const HostBitmap& source);

// Fills the destination with the marker through the host, seeds the source
// lattice with tagged pixels, fills the border ring and runs the diagonal and
// then the axial pass. Returns an EnlargeStatus as an integer, 0 on success.
std::int32_t enlargeFrame(EnlargerState& state, const FilterCallContext& context);

}  // namespace crest

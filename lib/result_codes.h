// The engine's outcome as the C API reports it, one code per outcome.
#pragma once

#include "crestdoubler.h"
#include "engine/frame_driver.h"

namespace crest::library {

constexpr int resultCodeOf(EnlargeStatus status) {
    switch (status) {
        case EnlargeStatus::ok: return CRESTDOUBLER_OK;
        case EnlargeStatus::outOfMemory: return CRESTDOUBLER_ERROR_MEMORY;
        // The API's checks admit only frames the engine takes.
        case EnlargeStatus::invalidGeometry: return CRESTDOUBLER_ERROR_INTERNAL;
    }
    return CRESTDOUBLER_ERROR_INTERNAL;
}

}  // namespace crest::library

// The level-3 windows of one pass's active targets, each from the route that
// serves it: running box sums in word planes where no border clamp reaches
// the window (window_planes.h for the diagonal pass, axial_planes.h for the
// axial one), the statistics bands (window_bands.h)
// elsewhere: whole rows along the top and bottom border, and strips of a few
// entries along the left and right border. Every route gives the words of the
// pyramid's clampedLevelRecord.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/axial_planes.h"
#include "engine/band_rows.h"
#include "engine/enlarger_state.h"
#include "engine/window_bands.h"
#include "engine/window_planes.h"

namespace crest {

class PassWindows {
public:
    // For a pass over the state's current frame and direction tables; the
    // three cache storages grow when they must (std::bad_alloc on failure).
    // Needs innerWidth and innerHeight >= 2. The kernels are the pass's.
    PassWindows(EnlargerState& state, bool axial, const BandRowKernels& kernels);

    // Call before the first window of destination row y.
    void beginRow(std::int32_t y);
    // The level-3 record of the target in column x: word w to words[w * stride].
    void window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride);
    // Those of targets x, x + 2, x + 4 and x + 6, target k to
    // words[w * stride + k], when one route serves all four in one step;
    // otherwise false, with nothing written.
    bool windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride);

private:
    WindowBands& strip(std::int32_t x);
    // f applied to the pass's planes.
    template <typename F>
    decltype(auto) withPlanes(F&& f) {
        return diagonal_ ? f(*diagonal_) : f(*axial_);
    }

    const BandRowKernels kernels_;
    std::optional<WindowBands> rows_;
    std::optional<WindowBands> left_;
    std::optional<WindowBands> right_;
    std::optional<WindowPlanes> diagonal_;
    std::optional<AxialPlanes> axial_;
    std::int32_t y_ = 0;
    std::int32_t rightColumn_ = 0;  // the strips meet here
    bool planeRow_ = false;
    bool stripsReady_ = false;
};

}  // namespace crest

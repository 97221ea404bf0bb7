// The axial pass's level-3 sums where no clamp reaches them, as running sums
// along the two diagonals in 14 word planes.
//
// An axial window is the diamond |dx| + |dy| <= 7 of samples around the
// target, an 8 x 8 box in the coordinates turned by 45 degrees: with (U, V)
// the target's inner position, its samples are (U - 7 + a + b, V + a - b) for
// a, b in 0..7. So with D(u, v) the sum of the eight samples (u + a, v + a)
// down one diagonal, the window is the sum of the eight D(U - 7 + b, V - b)
// up the other. Both run row by row:
//
//   D(u, v) = D(u - 1, v - 1) + S(u + 7, v + 7) - S(u - 1, v - 1)
//   E(U, V) = E(U + 1, V - 1) + D(U - 7, V) - D(U + 1, V - 8)
//
// so a row of windows costs the products of two sample rows and two runs of
// plane additions, whatever the window's size. Integer addition is exact, so
// the words are the pyramid's. The D rows live in a ring of kRing rows; after
// a stretch of rows without active targets the ring is summed afresh from
// the samples. Positions whose recurrence would reach outside the inner frame
// (D at u = 0, E at the last column) are summed directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/band_rows.h"
#include "engine/enlarger_state.h"
#include "engine/tag_rows.h"

namespace crest {

class AxialPlanes {
public:
    static constexpr std::int32_t kChunk = 128;

    // Whether a frame of these inner dimensions has any target the planes
    // can serve.
    static bool cover(std::int32_t innerWidth, std::int32_t innerHeight);
    // Words of storage the planes take for frames of this inner width.
    static std::int32_t storageWords(std::int32_t innerWidth);

    // Planes for the axial pass over the state's current frame and direction
    // tables, in `storage` (storageWords words). Needs cover().
    // Its tag rows in `tagStorage` (TagRows::storageWords words).
    AxialPlanes(const EnlargerState& state, std::int32_t* storage, std::int32_t* tagStorage,
                const BandRowKernels& kernels);

    // Whether the targets of destination row y can be served, and if so
    // makes that row current.
    bool beginRow(std::int32_t y);
    // Whether the targets in columns x .. last (same row) all can.
    bool coverColumns(std::int32_t x, std::int32_t last) const { return x - 2 >= 7 && last - 2 <= innerWidth_ - 8; }

    // As WindowPlanes: the record of the target in column x, or of x, x + 2,
    // x + 4 and x + 6 as lanes.
    void window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride);
    void windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride);

private:
    static constexpr std::int32_t kRing = 10;

    const std::int32_t* current(std::int32_t x);
    void bringDown();
    std::int32_t* diagonalRow(std::int32_t v) const;
    std::int32_t diagonalEntries(std::int32_t v) const { return (v & 1) != 0 ? entries_ - 4 : entries_ - 3; }
    void sumDiagonalsDirectly(std::int32_t v, std::int32_t first, std::int32_t count);
    void stepDiagonals(std::int32_t v, bool windowsToo);
    void sumWindowsDirectly(std::int32_t v, std::int32_t first, std::int32_t count);
    struct WindowRun {
        std::int32_t first, last, count;  // entries of the targets; how many the step serves
    };
    WindowRun windowRun(std::int32_t v) const;
    void stepWindowRun(std::int32_t v, std::int32_t j, std::int32_t count);
    // Products of `count` samples of row r from entry `first` (less those of
    // row `leaving` from `leavingFirst` when differencing) stored in, or
    // added to, `out` (planes `plane` apart).
    void products(std::int32_t r, std::int32_t first, std::int32_t leaving, std::int32_t leavingFirst,
                  std::int32_t* out, std::ptrdiff_t plane, std::int32_t count, bool add, bool difference);

    const BandRowKernels kernels_;
    TagRows tags_;
    std::int32_t innerWidth_;
    std::int32_t innerHeight_;
    std::int32_t entries_;   // lattice entries a row
    std::int32_t plane_;     // the stride of every plane: entries and room for a vector
    std::int32_t* windows_;  // the windows of row windowRow_
    std::int32_t* ring_;     // D rows
    std::int32_t* scratch_;  // one chunk's product differences
    std::int32_t row_ = -1;  // inner row of the current targets
    bool ready_ = false;
    std::int32_t newestDiagonal_ = -1;
    std::int32_t oldestDiagonal_ = -1;
    std::int32_t windowRow_ = -1;
};

}  // namespace crest

// The diagonal pass's level-3 sums where no clamp reaches them, as running
// box sums in 14 word planes.
//
// A diagonal window whose 64 samples all lie inside the inner frame is the
// 8 x 8 box of samples (entries m - 3 .. m + 4 of sample rows n - 3 .. n + 4
// for the target at entry m of node row n), and integer addition is exact,
// so any order of summing gives the pyramid's words. Plane w holds word w of
// every such target of the current node row. Moving down one node row adds
// the box row entering the window and subtracts the one leaving it; a box
// row is the eight-entry sums (pairs, fours, eights) of that row's products,
// formed from the tags as needed (centre clamp included), and the entering
// and leaving rows are differenced before the sums, so one run of sums
// serves both.
//
// The planes are kept in chunks of kChunk entries, each brought down to the
// current row only when an active target asks for it: chunks no active
// target reaches cost nothing, and a chunk left behind by four or more rows
// is summed afresh from its eight rows instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/band_rows.h"
#include "engine/enlarger_state.h"
#include "engine/moment_record.h"
#include "engine/tag_rows.h"

namespace crest {

class WindowPlanes {
public:
    static constexpr std::int32_t kChunk = 128;

    // Whether a frame of these inner dimensions has any target the planes
    // can serve.
    static bool cover(std::int32_t innerWidth, std::int32_t innerHeight);
    // Words of storage the planes take for frames of this inner width.
    static std::int32_t storageWords(std::int32_t innerWidth);

    // Planes for the diagonal pass over the state's current frame and
    // direction tables, in `storage` (storageWords words). Needs cover().
    // Its tag rows in `tagStorage` (TagRows::storageWords words).
    WindowPlanes(const EnlargerState& state, std::int32_t* storage, std::int32_t* tagStorage,
                 const BandRowKernels& kernels);

    // Whether the targets of destination row y can be served, and if so
    // makes that row current.
    bool beginRow(std::int32_t y);
    // Whether the targets in columns x .. last (same row) all can.
    bool coverColumns(std::int32_t x, std::int32_t last) const {
        return entryOf(x) >= kFirstEntry && entryOf(last) < lastEntry_;
    }

    // The level-3 record of the target in column x of the current row,
    // covered: word w to words[w * stride].
    void window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride);
    // Those of targets x, x + 2, x + 4, x + 6 (covered), target k to
    // words[w * stride + k].
    void windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride);

private:
    // Entry m of the planes: the target whose box is sample entries m - 3 ..
    // m + 4, the first with all of them inside the inner frame being 3.
    static constexpr std::int32_t kFirstEntry = 3;
    static std::int32_t entryOf(std::int32_t x) { return (x - 3) >> 1; }
    const std::int32_t* current(std::int32_t m);
    void bringDown(std::int32_t chunk);
    // The products of sample row r, entries first .. first + count - 1, less
    // (when differencing) those of row `leaving`, stored in the scratch planes
    // or added to them.
    enum class Products { store, add, difference, addDifference };
    void sampleProducts(std::int32_t r, std::int32_t leaving, std::int32_t first, std::int32_t count, Products mode);

    const BandRowKernels kernels_;
    TagRows tags_;
    std::int32_t lastEntry_;  // exclusive
    std::int32_t rowCount_;   // sample rows
    std::int32_t stride_;     // entries a plane
    std::int32_t* planes_;
    std::int32_t* scratch_;   // 14 planes of a chunk's samples
    std::int32_t* chunkRow_;  // node row each chunk holds, -1 before the first
    std::int32_t row_ = -1;
};

}  // namespace crest

// Window statistics of one pass built row by row, level by level.
//
// Every level of the pyramid lives on a lattice of the inner frame: level-0
// samples and level-1/2 nodes. On each lattice row the positions are every
// second column, so entry i of a row stands for column 2i + parity. In these
// entry coordinates the border clamp is plain edge replication along a row,
// and a clamp of whole rows (edge replication for the diagonal pass, whose
// lattices use every second row; parity-preserving for the axial pass, whose
// lattices use every row). So a level-k row is the word-wise sum of four
// level-(k-1) rows shifted by fixed entry offsets, and rows carry a few
// replicated padding entries at each end: no inner loop tests a position.
//
// A stored row holds its records as 14 planes, one per record word, each
// with its padding, so a row sum is one long run of 32-bit additions and a
// row of samples is computed several samples per vector.
//
// Each level keeps a small ring of rows, built lazily as the pass's targets
// move down; rows no active target can reach are never built. Bands may
// cover a run of entries only (the strips along the left and right border):
// the clamp then acts at the frame's edges as ever, and entries within five
// of a strip's inner end are not to be asked for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/band_rows.h"
#include "engine/enlarger_state.h"
#include "engine/moment_record.h"

namespace crest {

class WindowBands {
public:
    // Replicated entries at each end of a row: the furthest a level-3 sum
    // reaches beyond the row is two entries.
    static constexpr std::int32_t kPadding = 2;

    // Rings for a pass over the state's current frame and direction tables,
    // entries firstEntry .. firstEntry + entryCount - 1 of every lattice row,
    // in storage[level] (ringWords(level, entryCount) words each). Needs
    // innerWidth and innerHeight >= 2.
    WindowBands(const EnlargerState& state, bool axial, std::int32_t firstEntry, std::int32_t entryCount,
                std::int32_t* const (&storage)[3], const BandRowKernels& kernels);

    // Makes the level-2 rows that the targets of destination row y read
    // available; call before the row's first window().
    void beginRow(std::int32_t y);

    // The level-3 record of the target in column x of the row passed to
    // beginRow, exactly as clampedLevelRecord(…, 3) gives it: word w goes
    // to words[w * stride].
    void window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) const;

    // window() of the targets in columns x, x + 2, x + 4 and x + 6, target k
    // to words[w * stride + k], when none of them lies where the clamp
    // changes the entry; otherwise false, with nothing written.
    bool windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) const;

    // Words of storage a level's ring takes for bands of this many entries
    // (the axial pass's longer rings, so both passes fit in one storage).
    static std::int32_t ringWords(std::int32_t level, std::int32_t entryCount);

private:
    struct Ring {
        std::int32_t* storage;
        std::int32_t rows;    // ring length in rows
        std::int32_t newest;  // highest row built since the pass began
    };

    std::int32_t clampRow(std::int32_t row) const;
    // A row is addressed by its word-0 plane at entry 0; word w of entry i
    // is at row + w * stride_ + i.
    const std::int32_t* row(std::int32_t level, std::int32_t r);
    std::int32_t* slot(std::int32_t level, std::int32_t r) const;
    void buildRow(std::int32_t level, std::int32_t r);
    void buildSampleRow(std::int32_t r, std::int32_t* out) const;
    void levelTwoQuarters(std::int32_t i, const std::int32_t* (&quarter)[4]) const;
    void sumShiftedRows(std::int32_t* out, const std::int32_t* a, const std::int32_t* b, const std::int32_t* c,
                        const std::int32_t* d) const;

    std::int32_t entryOf(std::int32_t x) const { return ((x - 2 - columnParity_) >> 1) - firstEntry_; }

    const EnlargerState& state_;
    const bool axial_;
    const std::uint8_t* origin_;  // the pixel of entry 0 of row 0 (diagonal) or of the even rows (axial)
    std::int32_t firstEntry_;  // of the lattice rows
    std::int32_t entries_;     // entries per band row
    std::int32_t rowCount_;    // lattice rows: innerHeight / 2 (diagonal) or innerHeight (axial)
    std::int32_t stride_;      // entries per plane, padding included
    BandRowKernels kernels_;
    Ring ring_[3];
    // The current target row's three level-2 rows (the middle one only in
    // the axial pass), and the parity that maps its columns to entries.
    const std::int32_t* above_ = nullptr;
    const std::int32_t* middle_ = nullptr;
    const std::int32_t* below_ = nullptr;
    std::int32_t columnParity_ = 0;
};

}  // namespace crest

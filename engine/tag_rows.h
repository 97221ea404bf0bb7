// The luma tags of a pass's sample lattice, a ring of rows extracted once
// each, so that the box sums form a sample's products from shifted loads
// of three rows of tags instead of gathering five pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/band_rows.h"
#include "engine/enlarger_state.h"

namespace crest {

class TagRows {
public:
    // Words of storage the ring takes for frames of this inner width.
    static std::int32_t storageWords(std::int32_t innerWidth);

    TagRows(const EnlargerState& state, bool axial, std::int32_t* storage, const BandRowKernels& kernels);

    // The tags of the four training neighbours and of the samples
    // themselves (tags[4]) of sample row r from entry `first` on: entry i of
    // tags[j] belongs to sample first + i. Rows are asked for in a window
    // that moves down and spans at most kRows lattice rows.
    void tagsOf(std::int32_t r, std::int32_t first, const std::int32_t* (&tags)[5]);

private:
    static constexpr std::int32_t kRows = 16;

    // Entries -1 .. entries of lattice row t (those beyond the inner frame
    // belong to the border ring's pixels).
    const std::int32_t* row(std::int32_t t);

    const EnlargerState& state_;
    const BandRowKernels kernels_;
    const bool axial_;
    std::int32_t entries_;
    std::int32_t* storage_;
    std::int32_t newest_;
};

}  // namespace crest

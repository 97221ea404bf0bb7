#include "engine/tag_rows.h"

#include <cassert>

namespace crest {

std::int32_t TagRows::storageWords(std::int32_t innerWidth) { return kRows * (innerWidth / 2 + 2); }

TagRows::TagRows(const EnlargerState& state, bool axial, std::int32_t* storage, const BandRowKernels& kernels)
    : state_(state),
      kernels_(kernels),
      axial_(axial),
      entries_(state.innerWidth / 2),
      storage_(storage),
      // The lattice's neighbours reach two pixel rows above the inner frame:
      // one diagonal lattice row, two axial ones.
      newest_(axial ? -3 : -2) {}

const std::int32_t* TagRows::row(std::int32_t t) {
    const auto slot = [&](std::int32_t r) {
        return storage_ + static_cast<std::ptrdiff_t>((r % kRows + kRows) % kRows) * (entries_ + 2) + 1;
    };
    if (t > newest_) {
        for (std::int32_t r = newest_ + 1 > t - kRows + 1 ? newest_ + 1 : t - kRows + 1; r <= t; ++r) {
            // Diagonal lattice row r: inner row 2r, columns 2i; axial: inner
            // row r, columns 2i + (r & 1).
            const std::ptrdiff_t v = axial_ ? r : 2 * r;
            const std::uint8_t* first = state_.origin + v * state_.pitch + (axial_ ? 4 * (r & 1) : 0) - 8;
            kernels_.tagRow(first, slot(r) - 1, entries_ + 2);
        }
        newest_ = t;
    }
    assert(newest_ - t < kRows);
    return slot(t);
}

void TagRows::tagsOf(std::int32_t r, std::int32_t first, const std::int32_t* (&tags)[5]) {
    // Diagonal neighbours (-2, -2), (-2, +2), (+2, +2), (+2, -2): entries
    // i - 1 and i + 1 of the rows above and below. Axial (0, -2), (-2, 0),
    // (0, +2), (+2, 0): entry i two rows up and down, i -+ 1 in the row.
    const std::int32_t* above = row(axial_ ? r - 2 : r - 1) + first;
    const std::int32_t* below = row(axial_ ? r + 2 : r + 1) + first;
    const std::int32_t* centre = row(r) + first;
    if (axial_) {
        tags[0] = above;
        tags[1] = centre - 1;
        tags[2] = below;
        tags[3] = centre + 1;
    } else {
        tags[0] = above - 1;
        tags[1] = below - 1;
        tags[2] = below + 1;
        tags[3] = above + 1;
    }
    tags[4] = centre;
}

}  // namespace crest

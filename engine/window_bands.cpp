#include "engine/window_bands.h"

#include <cassert>
#include <cstddef>

#include "engine/four_pixels.h"
#include "engine/tagged_pixel.h"

namespace crest {

namespace {

// Ring lengths in lattice rows, by level. A level-k row reads the level-(k-1)
// rows from k-1's step above to its step below (diagonal: every second
// destination row, so 2, 3 and 5 rows; axial: every row, so 3, 5 and 9).
constexpr std::int32_t kDiagonalRingRows[3] = {2, 3, 5};
constexpr std::int32_t kAxialRingRows[3] = {3, 5, 9};

std::int32_t ringRows(std::int32_t level, bool axial) {
    return axial ? kAxialRingRows[level] : kDiagonalRingRows[level];
}

std::int32_t clampEntry(std::int32_t i, std::int32_t entries) { return i < 0 ? 0 : (i >= entries ? entries - 1 : i); }

constexpr std::int32_t kWords = MomentRecord::kWords;

}  // namespace

// Both passes ask for the axial pass's longer rings, so that a frame grows
// each storage at most once.
std::int32_t WindowBands::ringWords(std::int32_t level, std::int32_t entryCount) {
    return kAxialRingRows[level] * kWords * (entryCount + 2 * kPadding);
}

WindowBands::WindowBands(const EnlargerState& state, bool axial, std::int32_t firstEntry, std::int32_t entryCount,
                         std::int32_t* const (&storage)[3], const BandRowKernels& kernels)
    : state_(state),
      axial_(axial),
      origin_(state.origin + 8 * static_cast<std::ptrdiff_t>(firstEntry)),
      firstEntry_(firstEntry),
      entries_(entryCount),
      rowCount_(axial ? state.innerHeight : state.innerHeight / 2),
      stride_(entryCount + 2 * kPadding),
      kernels_(kernels) {
    for (std::int32_t level = 0; level < 3; ++level) ring_[level] = Ring{storage[level], ringRows(level, axial), -1};
}

std::int32_t WindowBands::clampRow(std::int32_t r) const {
    if (!axial_) return r < 0 ? 0 : (r >= rowCount_ ? rowCount_ - 1 : r);
    // The axial lattices alternate their columns row by row, so a clamped
    // row keeps its parity, as the clamp of a coordinate does.
    if (r < 0) return r & 1;
    if (r >= rowCount_) return rowCount_ - 2 + (r & 1);
    return r;
}

std::int32_t* WindowBands::slot(std::int32_t level, std::int32_t r) const {
    const Ring& ring = ring_[level];
    return ring.storage + static_cast<std::ptrdiff_t>(r % ring.rows) * kWords * stride_ + kPadding;
}

// Row r (already clamped) of a level, building the rows up to it first. Rows
// are asked for from a window that only moves down, at most the ring's
// length minus one rows behind the newest, so a built row stays in place
// until nothing asks for it again; rows too far behind a request to be asked
// for later are skipped.
const std::int32_t* WindowBands::row(std::int32_t level, std::int32_t r) {
    Ring& ring = ring_[level];
    if (r > ring.newest) {
        const std::int32_t first = ring.newest + 1 > r - ring.rows + 1 ? ring.newest + 1 : r - ring.rows + 1;
        for (std::int32_t q = first; q <= r; ++q) buildRow(level, q);
        ring.newest = r;
    }
    assert(ring.newest - r < ring.rows);
    return slot(level, r);
}

void WindowBands::buildSampleRow(std::int32_t r, std::int32_t* out) const {
    // Diagonal samples: even rows and columns. Axial: x + y even.
    const std::int32_t v = axial_ ? r : 2 * r;
    const std::int32_t u = axial_ ? (r & 1) : 0;
    const std::uint8_t* sample =
        origin_ + static_cast<std::ptrdiff_t>(v) * state_.pitch + 4 * static_cast<std::ptrdiff_t>(u);
    const std::ptrdiff_t train[4] = {state_.trainOffset[0], state_.trainOffset[1], state_.trainOffset[2],
                                     state_.trainOffset[3]};
    const std::ptrdiff_t plane = stride_;
    std::int32_t i = kernels_.sampleRow(sample, train, out, plane, entries_);
    sample += 8 * static_cast<std::ptrdiff_t>(i);
    for (; i < entries_; ++i, sample += 8) {
        const MomentRecord record = sampleRecordAt(sample, train);
        for (int w = 0; w < kWords; ++w) out[w * plane + i] = record.word[w];
    }
}

void WindowBands::buildRow(std::int32_t level, std::int32_t r) {
    std::int32_t* out = slot(level, r);
    if (level == 0) {
        buildSampleRow(r, out);
    } else if (!axial_) {
        // Node (2i+1, 2r+1) of level k: the four children 2^(k-1) pixels away
        // diagonally. Level 1: sample rows r and r+1, entries i and i+1;
        // level 2: level-1 rows r-1 and r+1, entries i-1 and i+1.
        const std::int32_t s = level == 1 ? 0 : 1;
        const std::int32_t* above = row(level - 1, clampRow(r - s));
        const std::int32_t* below = row(level - 1, clampRow(r + 1));
        const std::int32_t left = -s;
        sumShiftedRows(out, above + left, above + 1, below + left, below + 1);
    } else {
        // Node of level k in row r: the children 2^(k-1) rows above and below
        // at the same column, and 2^(k-1) columns left and right in row r.
        // Level 1 nodes sit at column parity (r+1)&1, their samples at r&1.
        const std::int32_t s = level == 1 ? 1 : 2;
        const std::int32_t* above = row(level - 1, clampRow(r - s));
        const std::int32_t* middle = row(level - 1, r);
        const std::int32_t* below = row(level - 1, clampRow(r + s));
        const std::int32_t left = level == 1 ? ((r & 1) != 0 ? -1 : 0) : -1;
        const std::int32_t right = level == 1 ? left + 1 : 1;
        sumShiftedRows(out, above, below, middle + left, middle + right);
    }
    // Edge replication: the clamp of the entries beyond either end.
    for (int w = 0; w < kWords; ++w) {
        std::int32_t* plane = out + w * stride_;
        for (std::int32_t p = 1; p <= kPadding; ++p) {
            plane[-p] = plane[0];
            plane[entries_ - 1 + p] = plane[entries_ - 1];
        }
    }
}

// All planes of a row in one run: from entry 0 of plane 0 to the last entry
// of plane 13. The run also covers the padding between planes, whose sums
// read at most kPadding entries beyond it, still inside the slot; the
// padding is rewritten afterwards.
void WindowBands::sumShiftedRows(std::int32_t* out, const std::int32_t* a, const std::int32_t* b,
                                 const std::int32_t* c, const std::int32_t* d) const {
    kernels_.sumFourRuns(out, a, b, c, d, static_cast<std::ptrdiff_t>(kWords - 1) * stride_ + entries_);
}

void WindowBands::beginRow(std::int32_t y) {
    if (!axial_) {
        // Targets in row y sit on node row (y - 3) / 2; their level-2 nodes
        // are four pixels, two node rows, away.
        const std::int32_t r = clampRow((y - 3) >> 1);
        above_ = row(2, clampRow(r - 2));
        below_ = row(2, clampRow(r + 2));
        columnParity_ = 1;
        return;
    }
    const std::int32_t r = clampRow(y - 2);
    above_ = row(2, clampRow(r - 4));
    middle_ = row(2, r);
    below_ = row(2, clampRow(r + 4));
    columnParity_ = 0;
}

// The four level-2 entries whose sum is the level-3 record at entry i.
void WindowBands::levelTwoQuarters(std::int32_t i, const std::int32_t* (&quarter)[4]) const {
    if (axial_) {
        quarter[0] = above_ + i;
        quarter[1] = below_ + i;
        quarter[2] = middle_ + i - 2;
        quarter[3] = middle_ + i + 2;
        return;
    }
    quarter[0] = above_ + i - 2;
    quarter[1] = above_ + i + 2;
    quarter[2] = below_ + i - 2;
    quarter[3] = below_ + i + 2;
}

void WindowBands::window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) const {
    // Column x is inner column x - 2; entry (u - parity) / 2, clamped.
    const std::int32_t i = clampEntry(entryOf(x), entries_);
    const std::int32_t* quarter[4];
    levelTwoQuarters(i, quarter);
    for (int w = 0; w < kWords; ++w) {
        const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(w) * stride_;
        words[w * stride] = quarter[0][p] + quarter[1][p] + quarter[2][p] + quarter[3][p];
    }
}

bool WindowBands::windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) const {
    // Unclamped, the four targets' entries are i .. i + 3: one vector per
    // word and quarter.
    const std::int32_t i = entryOf(x);
    if (i < 0 || i + 3 >= entries_) return false;
    const std::int32_t* quarter[4];
    levelTwoQuarters(i, quarter);
    const auto load = [](const std::int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    for (int w = 0; w < kWords; ++w) {
        const std::ptrdiff_t p = static_cast<std::ptrdiff_t>(w) * stride_;
        const __m128i sum = _mm_add_epi32(_mm_add_epi32(load(quarter[0] + p), load(quarter[1] + p)),
                                          _mm_add_epi32(load(quarter[2] + p), load(quarter[3] + p)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words + w * stride), sum);
    }
    return true;
}

}  // namespace crest

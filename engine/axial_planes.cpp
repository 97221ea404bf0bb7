#include "engine/axial_planes.h"

#include <emmintrin.h>

#include "engine/moment_record.h"

namespace crest {

namespace {

constexpr std::int32_t kWords = MomentRecord::kWords;
constexpr std::int32_t kScratchPlane = AxialPlanes::kChunk;
// A ring this many rows behind is summed afresh (eight sample rows for its
// first row, two for each after) rather than moved down (two a row).
constexpr std::int32_t kRestartGap = 12;
// Window rows are moved down at most this many rows at once; the ring keeps
// the D rows that needs.
constexpr std::int32_t kWindowStepGap = 2;

}  // namespace

bool AxialPlanes::cover(std::int32_t innerWidth, std::int32_t innerHeight) {
    return innerWidth >= 16 && innerHeight >= 16;
}

std::int32_t AxialPlanes::storageWords(std::int32_t innerWidth) {
    return (kRing + 1) * kWords * (innerWidth / 2) + kWords * kScratchPlane;
}

AxialPlanes::AxialPlanes(const EnlargerState& state, std::int32_t* storage, const BandRowKernels& kernels)
    : state_(state),
      kernels_(kernels),
      innerWidth_(state.innerWidth),
      innerHeight_(state.innerHeight),
      entries_(state.innerWidth / 2),
      windows_(storage),
      ring_(storage + kWords * entries_),
      scratch_(ring_ + kRing * kWords * entries_) {
    for (int j = 0; j < 4; ++j) train_[j] = state.trainOffset[j];
}

bool AxialPlanes::beginRow(std::int32_t y) {
    const std::int32_t v = y - 2;
    if (v < 7 || v > innerHeight_ - 8) return false;
    row_ = v;
    ready_ = false;
    return true;
}

std::int32_t* AxialPlanes::diagonalRow(std::int32_t v) const {
    return ring_ + static_cast<std::ptrdiff_t>(v % kRing) * kWords * entries_;
}

// Entry i of lattice row v is inner column 2i + (v & 1).
const std::uint8_t* AxialPlanes::sampleAt(std::int32_t v, std::int32_t entry) const {
    return state_.origin + static_cast<std::ptrdiff_t>(v) * state_.pitch + 8 * static_cast<std::ptrdiff_t>(entry) +
           4 * (v & 1);
}

void AxialPlanes::products(const std::uint8_t* sample, const std::uint8_t* leaving, std::int32_t* out,
                           std::ptrdiff_t plane, std::int32_t count, bool add, bool difference) const {
    std::int32_t i = 0;
    if (!add && !difference)
        i = kernels_.sampleRow(sample, train_, out, plane, count);
    else if (!difference)
        i = kernels_.addRow(sample, sample, train_, out, plane, count);
    else
        i = (add ? kernels_.addDifferenceRow : kernels_.differenceRow)(sample, leaving, train_, out, plane, count);
    for (; i < count; ++i) {
        const MomentRecord entering = sampleRecordAt(sample + 8 * static_cast<std::ptrdiff_t>(i), train_);
        MomentRecord left{};
        if (difference) left = sampleRecordAt(leaving + 8 * static_cast<std::ptrdiff_t>(i), train_);
        for (int w = 0; w < kWords; ++w) {
            std::int32_t& to = out[w * plane + i];
            to = (add ? to : 0) + entering.word[w] - left.word[w];
        }
    }
}

// D(u, v) = sum of S(u + a, v + a), a = 0..7: row v + a at entry i + a / 2
// for even a, i + (a - 1) / 2 + (v & 1) for odd a.
void AxialPlanes::sumDiagonalsDirectly(std::int32_t v, std::int32_t first, std::int32_t count) {
    std::int32_t* const out = diagonalRow(v) + first;
    for (std::int32_t a = 0; a < 8; ++a) {
        const std::int32_t shift = (a & 1) == 0 ? a / 2 : (a - 1) / 2 + (v & 1);
        products(sampleAt(v + a, first + shift), nullptr, out, entries_, count, a != 0, false);
    }
}

// D row v from row v - 1: entry i of row v continues entry i + (v & 1) - 1
// of row v - 1, and takes in the sample at entry i + 3 + (v & 1) of row v + 7.
void AxialPlanes::stepDiagonals(std::int32_t v) {
    const std::int32_t parity = v & 1;
    const std::int32_t back = parity - 1;
    const std::int32_t ahead = 3 + parity;
    std::int32_t first = 0;
    if (parity == 0) {
        // u = 0 continues nothing.
        sumDiagonalsDirectly(v, 0, 1);
        first = 1;
    }
    const std::int32_t end = diagonalEntries(v);
    const std::int32_t* const previous = diagonalRow(v - 1);
    std::int32_t* const out = diagonalRow(v);
    for (std::int32_t i = first; i < end; i += kChunk) {
        const std::int32_t count = end - i < kChunk ? end - i : kChunk;
        products(sampleAt(v + 7, i + ahead), sampleAt(v - 1, i + back), scratch_, kScratchPlane, count, false, true);
        kernels_.combinePlanes(out + i, entries_, previous + i + back, entries_, scratch_, kScratchPlane, nullptr, 0,
                               count);
    }
}

// Targets of row v: column U = 2j + q, q = 1 - (v & 1), with U from 7 to
// innerWidth - 8. E(U, v) sums D(U - 7 + b, v - b), b = 0..7, which is entry
// j + (q - 7 + b - ((v - b) & 1)) / 2 of D row v - b.
void AxialPlanes::sumWindowsDirectly(std::int32_t v, std::int32_t first, std::int32_t count) {
    const std::int32_t q = 1 - (v & 1);
    const auto shift = [&](std::int32_t b) { return (q - 7 + b - ((v - b) & 1)) / 2; };
    std::int32_t* const out = windows_ + first;
    kernels_.combinePlanes(out, entries_, diagonalRow(v) + first + shift(0), entries_,
                           diagonalRow(v - 1) + first + shift(1), entries_, nullptr, 0, count);
    for (std::int32_t b = 2; b < 8; ++b)
        kernels_.combinePlanes(out, entries_, out, entries_, diagonalRow(v - b) + first + shift(b), entries_, nullptr,
                               0, count);
}

// E row v from row v - 1 in place: E(U, v) = E(U + 1, v - 1) + D(U - 7, v)
// - D(U + 1, v - 8), that is entries j + q, j - 3 - (v & 1) and j + 1 -
// (v & 1). On odd rows the last target's U + 1 has no window of its own in
// row v - 1, so it is summed directly.
void AxialPlanes::stepWindows(std::int32_t v) {
    const std::int32_t parity = v & 1;
    const std::int32_t q = 1 - parity;
    const std::int32_t first = q != 0 ? 3 : 4;
    const std::int32_t last = q != 0 ? entries_ - 5 : entries_ - 4;
    const std::int32_t count = last - first + 1 - parity;
    kernels_.combinePlanes(windows_ + first, entries_, windows_ + first + q, entries_,
                           diagonalRow(v) + first - 3 - parity, entries_, diagonalRow(v - 8) + first + 1 - parity,
                           entries_, count);
    if (parity != 0) sumWindowsDirectly(v, last, 1);
}

void AxialPlanes::bringDown() {
    const std::int32_t v = row_;
    if (newestDiagonal_ < 0 || v - newestDiagonal_ > kRestartGap) {
        const std::int32_t start = v - 8 < 0 ? 0 : v - 8;
        sumDiagonalsDirectly(start, 0, diagonalEntries(start));
        newestDiagonal_ = oldestDiagonal_ = start;
    }
    while (newestDiagonal_ < v) {
        stepDiagonals(++newestDiagonal_);
        if (oldestDiagonal_ < newestDiagonal_ - kRing + 1) oldestDiagonal_ = newestDiagonal_ - kRing + 1;
    }
    if (windowRow_ >= 0 && v - windowRow_ <= kWindowStepGap && windowRow_ - 7 >= oldestDiagonal_) {
        for (std::int32_t r = windowRow_ + 1; r <= v; ++r) stepWindows(r);
    } else {
        const std::int32_t q = 1 - (v & 1);
        const std::int32_t first = q != 0 ? 3 : 4;
        const std::int32_t last = q != 0 ? entries_ - 5 : entries_ - 4;
        sumWindowsDirectly(v, first, last - first + 1);
    }
    windowRow_ = v;
    ready_ = true;
}

const std::int32_t* AxialPlanes::current(std::int32_t x) {
    if (!ready_) bringDown();
    return windows_ + ((x - 2) >> 1);
}

void AxialPlanes::window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    const std::int32_t* entry = current(x);
    for (int w = 0; w < kWords; ++w) words[w * stride] = entry[w * entries_];
}

void AxialPlanes::windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    const std::int32_t* entry = current(x);
    for (int w = 0; w < kWords; ++w)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words + w * stride),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(entry + w * entries_)));
}

}  // namespace crest

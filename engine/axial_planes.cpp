#include "engine/axial_planes.h"

#include <emmintrin.h>

#include "engine/moment_record.h"

namespace crest {

namespace {

constexpr std::int32_t kWords = MomentRecord::kWords;
// Every plane has room for the plane sums' last whole vector.
constexpr std::int32_t kRoom = BandRowKernels::kMaxLanes;
constexpr std::int32_t kScratchPlane = AxialPlanes::kChunk + kRoom;
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
    return (kRing + 1) * kWords * (innerWidth / 2 + kRoom) + kWords * kScratchPlane;
}

AxialPlanes::AxialPlanes(const EnlargerState& state, std::int32_t* storage, std::int32_t* tagStorage,
                         const BandRowKernels& kernels)
    : kernels_(kernels),
      tags_(state, true, tagStorage, kernels),
      innerWidth_(state.innerWidth),
      innerHeight_(state.innerHeight),
      entries_(state.innerWidth / 2),
      plane_(entries_ + kRoom),
      windows_(storage),
      ring_(storage + kWords * plane_),
      scratch_(ring_ + kRing * kWords * plane_) {
    // What the plane sums read beyond a chunk holds numbers, not whatever
    // the storage held.
    for (std::int32_t k = 0; k < kWords * kScratchPlane; ++k) scratch_[k] = 0;
}

bool AxialPlanes::beginRow(std::int32_t y) {
    const std::int32_t v = y - 2;
    if (v < 7 || v > innerHeight_ - 8) return false;
    row_ = v;
    ready_ = false;
    return true;
}

std::int32_t* AxialPlanes::diagonalRow(std::int32_t v) const {
    return ring_ + static_cast<std::ptrdiff_t>(v % kRing) * kWords * plane_;
}

void AxialPlanes::products(std::int32_t r, std::int32_t first, std::int32_t leaving, std::int32_t leavingFirst,
                           std::int32_t* out, std::ptrdiff_t plane, std::int32_t count, bool add, bool difference) {
    const std::int32_t* entering[5];
    const std::int32_t* left[5];
    tags_.tagsOf(r, first, entering);
    tags_.tagsOf(leaving, leavingFirst, left);
    const TagProductsKernel kernel = difference
                                         ? (add ? kernels_.addDifferenceTagProducts : kernels_.differenceTagProducts)
                                         : (add ? kernels_.addTagProducts : kernels_.storeTagProducts);
    kernel(entering, left, out, plane, count);
}

// D(u, v) = sum of S(u + a, v + a), a = 0..7: row v + a at entry i + a / 2
// for even a, i + (a - 1) / 2 + (v & 1) for odd a.
void AxialPlanes::sumDiagonalsDirectly(std::int32_t v, std::int32_t first, std::int32_t count) {
    std::int32_t* const out = diagonalRow(v) + first;
    for (std::int32_t a = 0; a < 8; ++a) {
        const std::int32_t shift = (a & 1) == 0 ? a / 2 : (a - 1) / 2 + (v & 1);
        products(v + a, first + shift, v + a, first + shift, out, plane_, count, a != 0, false);
    }
}

// D row v from row v - 1: entry i of row v continues entry i + (v & 1) - 1
// of row v - 1, and takes in the sample at entry i + 3 + (v & 1) of row v + 7.
// With `windowsToo`, E row v follows chunk by chunk, reading the new D
// entries while they are in L1.
void AxialPlanes::stepDiagonals(std::int32_t v, bool windowsToo) {
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
    const WindowRun run = windowRun(v);
    std::int32_t windowsDone = 0;
    for (std::int32_t i = first; i < end; i += kChunk) {
        const std::int32_t count = end - i < kChunk ? end - i : kChunk;
        products(v + 7, i + ahead, v - 1, i + back, scratch_, kScratchPlane, count, false, true);
        kernels_.combinePlanes(out + i, plane_, previous + i + back, plane_, scratch_, kScratchPlane, nullptr, 0,
                               count);
        if (!windowsToo || i + count >= end) continue;
        // Window j reads D entry j - 3 - (v & 1); runs in whole vectors of
        // every width, so that none spoils the next run's entries.
        const std::int32_t ready = i + count + 3 + parity - run.first;
        const std::int32_t more =
            ((ready < run.count ? ready : run.count) - windowsDone) & ~(BandRowKernels::kMaxLanes - 1);
        if (more > 0) stepWindowRun(v, run.first + windowsDone, more);
        windowsDone += more > 0 ? more : 0;
    }
    if (!windowsToo) return;
    stepWindowRun(v, run.first + windowsDone, run.count - windowsDone);
    if (parity != 0) sumWindowsDirectly(v, run.last, 1);
}

// Targets of row v: column U = 2j + q, q = 1 - (v & 1), with U from 7 to
// innerWidth - 8. E(U, v) sums D(U - 7 + b, v - b), b = 0..7, which is entry
// j + (q - 7 + b - ((v - b) & 1)) / 2 of D row v - b.
void AxialPlanes::sumWindowsDirectly(std::int32_t v, std::int32_t first, std::int32_t count) {
    const std::int32_t q = 1 - (v & 1);
    const auto shift = [&](std::int32_t b) { return (q - 7 + b - ((v - b) & 1)) / 2; };
    std::int32_t* const out = windows_ + first;
    kernels_.combinePlanes(out, plane_, diagonalRow(v) + first + shift(0), plane_,
                           diagonalRow(v - 1) + first + shift(1), plane_, nullptr, 0, count);
    for (std::int32_t b = 2; b < 8; ++b)
        kernels_.combinePlanes(out, plane_, out, plane_, diagonalRow(v - b) + first + shift(b), plane_, nullptr, 0,
                               count);
}

// Targets of row v run from entry first (U = 7) to last (U = innerWidth
// - 8); the step covers them all but, on odd rows, the last.
AxialPlanes::WindowRun AxialPlanes::windowRun(std::int32_t v) const {
    const std::int32_t parity = v & 1;
    const std::int32_t first = parity == 0 ? 3 : 4;
    const std::int32_t last = parity == 0 ? entries_ - 5 : entries_ - 4;
    return WindowRun{first, last, last - first + 1 - parity};
}

// E row v from row v - 1 in place, entries j .. j + count - 1: E(U, v) =
// E(U + 1, v - 1) + D(U - 7, v) - D(U + 1, v - 8), that is entries j + q,
// j - 3 - (v & 1) and j + 1 - (v & 1). (On odd rows the last target's U + 1
// has no window of its own in row v - 1, so it is summed directly.)
void AxialPlanes::stepWindowRun(std::int32_t v, std::int32_t j, std::int32_t count) {
    const std::int32_t parity = v & 1;
    kernels_.combinePlanes(windows_ + j, plane_, windows_ + j + 1 - parity, plane_, diagonalRow(v) + j - 3 - parity,
                           plane_, diagonalRow(v - 8) + j + 1 - parity, plane_, count);
}

void AxialPlanes::bringDown() {
    const std::int32_t v = row_;
    if (newestDiagonal_ < 0 || v - newestDiagonal_ > kRestartGap) {
        const std::int32_t start = v - 8 < 0 ? 0 : v - 8;
        sumDiagonalsDirectly(start, 0, diagonalEntries(start));
        newestDiagonal_ = oldestDiagonal_ = start;
    }
    // The usual case: windows caught up with the D rows, one row down.
    const bool together =
        windowRow_ == newestDiagonal_ && v - windowRow_ <= kWindowStepGap && windowRow_ - 7 >= oldestDiagonal_;
    while (newestDiagonal_ < v) {
        stepDiagonals(++newestDiagonal_, together);
        if (oldestDiagonal_ < newestDiagonal_ - kRing + 1) oldestDiagonal_ = newestDiagonal_ - kRing + 1;
    }
    if (together) {
        // Done with the D rows.
    } else if (windowRow_ >= 0 && v - windowRow_ <= kWindowStepGap && windowRow_ - 7 >= oldestDiagonal_) {
        for (std::int32_t r = windowRow_ + 1; r <= v; ++r) {
            const WindowRun run = windowRun(r);
            stepWindowRun(r, run.first, run.count);
            if ((r & 1) != 0) sumWindowsDirectly(r, run.last, 1);
        }
    } else {
        const WindowRun run = windowRun(v);
        sumWindowsDirectly(v, run.first, run.last - run.first + 1);
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
    for (int w = 0; w < kWords; ++w) words[w * stride] = entry[w * plane_];
}

void AxialPlanes::windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    const std::int32_t* entry = current(x);
    for (int w = 0; w < kWords; ++w)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words + w * stride),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(entry + w * plane_)));
}

}  // namespace crest

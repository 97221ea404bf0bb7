#include "engine/window_planes.h"

#include <emmintrin.h>

namespace crest {

namespace {

constexpr std::int32_t kWords = MomentRecord::kWords;
// A chunk's samples (kChunk + 7, rounded up to whole vectors) and the room
// the eight-entry sums' last vectors read.
constexpr std::int32_t kScratchPlane = WindowPlanes::kChunk + 16 + BandRowKernels::kMaxLanes;
// A chunk this many rows behind is summed afresh from its eight rows (eight
// sample rows of products) rather than moved down (two a row).
constexpr std::int32_t kRebuildGap = 4;

}  // namespace

bool WindowPlanes::cover(std::int32_t innerWidth, std::int32_t innerHeight) {
    // A box needs eight sample entries and eight sample rows.
    return innerWidth / 2 >= 8 && innerHeight / 2 >= 8;
}

std::int32_t WindowPlanes::storageWords(std::int32_t innerWidth) {
    const std::int32_t stride = innerWidth / 2;
    const std::int32_t chunks = stride / kChunk + 1;
    return kWords * stride + kWords * kScratchPlane + chunks;
}

WindowPlanes::WindowPlanes(const EnlargerState& state, std::int32_t* storage, std::int32_t* tagStorage,
                           const BandRowKernels& kernels)
    : kernels_(kernels),
      tags_(state, false, tagStorage, kernels),
      lastEntry_(state.innerWidth / 2 - 4),
      rowCount_(state.innerHeight / 2),
      stride_(state.innerWidth / 2),
      planes_(storage),
      scratch_(storage + kWords * stride_),
      chunkRow_(scratch_ + kWords * kScratchPlane) {
    // What the sums read beyond a chunk's samples holds numbers, not
    // whatever the storage held.
    for (std::int32_t k = 0; k < kWords * kScratchPlane; ++k) scratch_[k] = 0;
    const std::int32_t chunks = (lastEntry_ - kFirstEntry + kChunk - 1) / kChunk;
    for (std::int32_t c = 0; c < chunks; ++c) chunkRow_[c] = -1;
}

bool WindowPlanes::beginRow(std::int32_t y) {
    // Targets of row y sit on node row (y - 3) / 2, whose boxes take sample
    // rows n - 3 .. n + 4.
    const std::int32_t n = (y - 3) >> 1;
    if (n < 3 || n + 4 >= rowCount_) return false;
    row_ = n;
    return true;
}

void WindowPlanes::sampleProducts(std::int32_t r, std::int32_t leaving, std::int32_t first, std::int32_t count,
                                  Products mode) {
    const std::int32_t* entering[5];
    const std::int32_t* left[5];
    tags_.tagsOf(r, first, entering);
    tags_.tagsOf(leaving, first, left);
    const TagProductsKernel kernel = mode == Products::store        ? kernels_.storeTagProducts
                                     : mode == Products::add        ? kernels_.addTagProducts
                                     : mode == Products::difference ? kernels_.differenceTagProducts
                                                                    : kernels_.addDifferenceTagProducts;
    kernel(entering, left, scratch_, kScratchPlane, count);
}

// Chunk c to the current row: the entering rows' products less the leaving
// rows', or all eight rows afresh, then one run of eight-entry sums.
void WindowPlanes::bringDown(std::int32_t c) {
    const std::int32_t first = kFirstEntry + c * kChunk;
    const std::int32_t count = lastEntry_ - first < kChunk ? lastEntry_ - first : kChunk;
    const std::int32_t from = chunkRow_[c];
    // Box entries first - 3 .. first + count + 3 are the samples of the chunk.
    const std::int32_t sampleFirst = first - 3;
    // Whole vectors where the row has the samples for them; the sums ignore
    // the extra.
    const std::int32_t whole = (count + 7 + 7) & ~7;
    const std::int32_t samples = sampleFirst + whole <= stride_ ? whole : count + 7;
    const bool afresh = from < 0 || row_ - from >= kRebuildGap;
    if (afresh) {
        for (std::int32_t r = row_ - 3; r <= row_ + 4; ++r)
            sampleProducts(r, r, sampleFirst, samples, r == row_ - 3 ? Products::store : Products::add);
    } else {
        for (std::int32_t n = from + 1; n <= row_; ++n)
            sampleProducts(n + 4, n - 4, sampleFirst, samples,
                           n == from + 1 ? Products::difference : Products::addDifference);
    }
    kernels_.eightSums(scratch_, kScratchPlane, planes_ + first, stride_, count, !afresh);
    chunkRow_[c] = row_;
}

const std::int32_t* WindowPlanes::current(std::int32_t m) {
    const std::int32_t c = (m - kFirstEntry) / kChunk;
    if (chunkRow_[c] != row_) bringDown(c);
    return planes_ + m;
}

void WindowPlanes::window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    const std::int32_t* entry = current(entryOf(x));
    for (int w = 0; w < kWords; ++w) words[w * stride] = entry[w * stride_];
}

void WindowPlanes::windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    const std::int32_t m = entryOf(x);
    current(m + 3);
    const std::int32_t* entry = current(m);
    for (int w = 0; w < kWords; ++w)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(words + w * stride),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(entry + w * stride_)));
}

}  // namespace crest

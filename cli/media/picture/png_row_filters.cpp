#include "cli/media/picture/png_row_filters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace crest::cli {

namespace {

// Average with a row of zeros above: the first row's average filter.
enum class Kernel { none, sub, up, average, averageOfLeft, paeth };

int paeth(int left, int up, int upLeft) {
    const int estimate = left + up - upLeft;
    const int toLeft = std::abs(estimate - left);
    const int toUp = std::abs(estimate - up);
    const int toUpLeft = std::abs(estimate - upLeft);
    if (toLeft <= toUp && toLeft <= toUpLeft) return left;
    return toUp <= toUpLeft ? up : upLeft;
}

std::uint32_t magnitude(std::uint8_t byte) { return byte < 128 ? byte : 256u - byte; }

// The predictor of byte i, which has a whole pixel to its left.
template <Kernel K>
int predicted(const std::uint8_t* row, const std::uint8_t* previous, std::size_t i, std::size_t bands) {
    if constexpr (K == Kernel::none) return 0;
    if constexpr (K == Kernel::sub) return row[i - bands];
    if constexpr (K == Kernel::up) return previous[i];
    if constexpr (K == Kernel::average) return (row[i - bands] + previous[i]) / 2;
    if constexpr (K == Kernel::averageOfLeft) return row[i - bands] / 2;
    if constexpr (K == Kernel::paeth) return paeth(row[i - bands], previous[i], previous[i - bands]);
}

// The predictor of a byte of the first pixel, which has zeros to its left.
template <Kernel K>
int predictedFirst(const std::uint8_t* previous, std::size_t i) {
    if constexpr (K == Kernel::up || K == Kernel::paeth) return previous[i];
    if constexpr (K == Kernel::average) return previous[i] / 2;
    return 0;
}

#if defined(__SSE2__)
__m128i select(__m128i mask, __m128i ifSet, __m128i otherwise) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, otherwise));
}

__m128i absoluteDifference(__m128i x, __m128i y) { return _mm_or_si128(_mm_subs_epu8(x, y), _mm_subs_epu8(y, x)); }

__m128i atMost(__m128i x, __m128i y) { return _mm_cmpeq_epi8(_mm_min_epu8(x, y), x); }

// Paeth's choice among 16 left, up and upper-left samples, in bytes: its
// distance to the upper left, |left + up - 2 upLeft|, is the sum of the
// other two where left and up lie on the same side of upLeft and their
// difference otherwise. A sum past 255 saturates, which changes no
// comparison, as both others are at most 255.
__m128i paethVector(__m128i left, __m128i up, __m128i upLeft) {
    const __m128i toLeft = absoluteDifference(up, upLeft);
    const __m128i toUp = absoluteDifference(left, upLeft);
    const __m128i sameSide = _mm_cmpeq_epi8(atMost(upLeft, up), atMost(upLeft, left));
    const __m128i toUpLeft = select(sameSide, _mm_adds_epu8(toLeft, toUp), absoluteDifference(toLeft, toUp));
    const __m128i isLeft = _mm_and_si128(atMost(toLeft, toUp), atMost(toLeft, toUpLeft));
    return select(isLeft, left, select(atMost(toUp, toUpLeft), up, upLeft));
}

template <Kernel K>
__m128i predictedVector(const std::uint8_t* row, const std::uint8_t* previous, std::size_t i, std::size_t bands) {
    const auto load = [](const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    const __m128i zero = _mm_setzero_si128();
    if constexpr (K == Kernel::none) return zero;
    if constexpr (K == Kernel::sub) return load(row + i - bands);
    if constexpr (K == Kernel::up) return load(previous + i);
    if constexpr (K == Kernel::average || K == Kernel::averageOfLeft) {
        const __m128i left = load(row + i - bands);
        const __m128i up = K == Kernel::average ? load(previous + i) : zero;
        // pavgb rounds up; the filter rounds down.
        return _mm_sub_epi8(_mm_avg_epu8(left, up), _mm_and_si128(_mm_xor_si128(left, up), _mm_set1_epi8(1)));
    }
    if constexpr (K == Kernel::paeth)
        return paethVector(load(row + i - bands), load(previous + i), load(previous + i - bands));
}
#endif

template <Kernel K>
std::uint64_t filtered(const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes, std::size_t bands,
                       std::uint8_t* out) {
    const std::size_t lead = std::min(bands, rowBytes);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < lead; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - predictedFirst<K>(previous, i));
        sum += magnitude(out[i]);
    }
    std::size_t i = lead;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    for (; i + 16 <= rowBytes; i += 16) {
        const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i bytes = _mm_sub_epi8(samples, predictedVector<K>(row, previous, i, bands));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
        // The magnitude of a byte taken as signed is the smaller of it and its negation.
        sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_min_epu8(bytes, _mm_sub_epi8(zero, bytes)), zero));
    }
    sum += static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
           static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
#endif
    for (; i < rowBytes; ++i) {
        out[i] = static_cast<std::uint8_t>(row[i] - predicted<K>(row, previous, i, bands));
        sum += magnitude(out[i]);
    }
    return sum;
}

}  // namespace

std::uint64_t filterPngRowWith(PngFilter filter, const std::uint8_t* row, const std::uint8_t* previous,
                               std::size_t rowBytes, int bands, std::uint8_t* out) {
    const auto step = static_cast<std::size_t>(bands);
    // Against a row of zeros, up is none and Paeth is sub.
    switch (filter) {
    case PngFilter::none:
        return filtered<Kernel::none>(row, previous, rowBytes, step, out);
    case PngFilter::sub:
        return filtered<Kernel::sub>(row, previous, rowBytes, step, out);
    case PngFilter::up:
        return previous != nullptr ? filtered<Kernel::up>(row, previous, rowBytes, step, out)
                                   : filtered<Kernel::none>(row, previous, rowBytes, step, out);
    case PngFilter::average:
        return previous != nullptr ? filtered<Kernel::average>(row, previous, rowBytes, step, out)
                                   : filtered<Kernel::averageOfLeft>(row, previous, rowBytes, step, out);
    case PngFilter::paeth:
        return previous != nullptr ? filtered<Kernel::paeth>(row, previous, rowBytes, step, out)
                                   : filtered<Kernel::sub>(row, previous, rowBytes, step, out);
    }
    return 0;
}

void filterPngRow(const std::uint8_t* row, const std::uint8_t* previous, std::size_t rowBytes, int bands,
                  std::uint8_t* out, std::uint8_t* scratch) {
    std::uint8_t* best = out + 1;
    std::uint8_t* trial = scratch;
    PngFilter bestFilter = PngFilter::none;
    std::uint64_t bestSum = filterPngRowWith(PngFilter::none, row, previous, rowBytes, bands, best);
    // Without a row above, up and Paeth repeat none and sub.
    const PngFilter firstRow[] = {PngFilter::sub, PngFilter::average};
    const PngFilter otherRows[] = {PngFilter::sub, PngFilter::up, PngFilter::average, PngFilter::paeth};
    const std::span<const PngFilter> trials =
        previous != nullptr ? std::span<const PngFilter>(otherRows) : std::span<const PngFilter>(firstRow);
    for (const PngFilter filter : trials) {
        const std::uint64_t sum = filterPngRowWith(filter, row, previous, rowBytes, bands, trial);
        if (sum >= bestSum) continue;
        bestSum = sum;
        bestFilter = filter;
        std::swap(best, trial);
    }
    if (best != out + 1) std::memcpy(out + 1, best, rowBytes);
    out[0] = static_cast<std::uint8_t>(bestFilter);
}

}  // namespace crest::cli

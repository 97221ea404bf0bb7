// Eight targets a step with AVX2; this file is compiled with -mavx2. Lane by
// lane the operations of the four-target versions in four_pixels.h.
#include <immintrin.h>

#include "engine/four_pixels.h"
#include "engine/target_groups.h"

namespace crest {

namespace {

// Pixels 0, 2, .., 14 from `first`, reading pixels 0..14 only.
__m256i loadEveryOtherPixel(const std::uint8_t* first) {
    const __m256 low = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(first)));
    const __m256 high = _mm256_castsi256_ps(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + 28)));
    // Per 128-bit half: pixels 0, 2, 8, 10 and 4, 6, 12, 14; then in order.
    const __m256i even = _mm256_castps_si256(_mm256_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 2, 0)));
    return _mm256_permute4x64_epi64(even, _MM_SHUFFLE(3, 1, 2, 0));
}

CREST_ACTIVITY_LANES(Avx2ActivityLanes, __m256i, _mm256_, si256);

__m256i average(__m256i a, __m256i b) {
    const __m256i half = _mm256_and_si256(_mm256_srli_epi32(_mm256_xor_si256(a, b), 1), _mm256_set1_epi32(0x7F7F7F7F));
    return _mm256_add_epi32(_mm256_and_si256(a, b), half);
}

__m256i tag(__m256i pixel) {
    const __m256i blueRed = _mm256_and_si256(pixel, _mm256_set1_epi32(0x00FF00FF));
    const __m256i greenOne = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(pixel, 8), _mm256_set1_epi32(0xFF)),
                                             _mm256_set1_epi32(0x10000));
    const __m256i luma =
        _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(blueRed, _mm256_set1_epi32((kLumaRed << 16) | kLumaBlue)),
                                           _mm256_madd_epi16(greenOne, _mm256_set1_epi32((128 << 16) | kLumaGreen))),
                          8);
    return _mm256_or_si256(_mm256_and_si256(pixel, _mm256_set1_epi32(0x00FFFFFF)), _mm256_slli_epi32(luma, 24));
}

}  // namespace

void fillTargetGroupsAvx2(std::uint8_t* first, std::int32_t groups, const std::int32_t (&offset)[4],
                          std::int32_t threshold, std::uint8_t* masks) {
    for (std::int32_t g = 0; g < groups; ++g, first += 64) {
        __m256i n[4];
        for (int j = 0; j < 4; ++j) n[j] = loadEveryOtherPixel(first + offset[j]);
        const __m256i fill = tag(average(average(n[0], n[1]), average(n[2], n[3])));
        // Pixel stores, as the four-target groups do: a wider store would
        // cover the pixels between the targets, which the axial pass reads
        // next.
        four::storeEveryOtherPixel(first, _mm256_castsi256_si128(fill));
        four::storeEveryOtherPixel(first + 32, _mm256_extracti128_si256(fill, 1));
        masks[g] = static_cast<std::uint8_t>(four::activeLanesOf<Avx2ActivityLanes>(n, threshold));
    }
}

}  // namespace crest

// The band row kernels with eight lanes; this file is compiled with -mavx2.
#include <immintrin.h>

#include "engine/band_row_kernels.h"
#include "engine/four_pixels.h"

namespace crest {

namespace {

struct Avx2Vec {
    using T = __m256i;
    static constexpr int kLanes = 8;
    static T load(const std::int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(std::int32_t* p, T x) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x); }
    static T add(T x, T y) { return _mm256_add_epi32(x, y); }
    static T sub(T x, T y) { return _mm256_sub_epi32(x, y); }
    static T srli24(T x) { return _mm256_srli_epi32(x, 24); }
    static T min16(T x, T y) { return _mm256_min_epi16(x, y); }
    static T max16(T x, T y) { return _mm256_max_epi16(x, y); }
    static T madd16(T x, T y) { return _mm256_madd_epi16(x, y); }
    // Pixels 0, 2, .., 14: two groups of four, each reading its own seven pixels.
    static T loadEveryOtherPixel(const std::uint8_t* first) {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(four::loadEveryOtherPixel(first)),
                                       four::loadEveryOtherPixel(first + 32), 1);
    }
};

}  // namespace

// The sample rows of the AVX-512 kernels too (their 16-bit operations would
// need AVX-512BW).
BandRowKernels bandRowKernelsAvx2() { return rowKernelsWith<Avx2Vec>(); }

}  // namespace crest

// The band row kernels with SSE2.
#include "engine/band_rows.h"

#include <emmintrin.h>

#include "engine/band_row_kernels.h"
#include "engine/four_pixels.h"
#include "engine/kernels_by_set.h"

namespace crest {

namespace {

struct Sse2Vec {
    using T = __m128i;
    static constexpr int kLanes = 4;
    static T load(const std::int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(std::int32_t* p, T x) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x); }
    static T add(T x, T y) { return _mm_add_epi32(x, y); }
    static T sub(T x, T y) { return _mm_sub_epi32(x, y); }
    static T srli24(T x) { return _mm_srli_epi32(x, 24); }
    static T min16(T x, T y) { return _mm_min_epi16(x, y); }
    static T max16(T x, T y) { return _mm_max_epi16(x, y); }
    static T madd16(T x, T y) { return _mm_madd_epi16(x, y); }
    static T loadEveryOtherPixel(const std::uint8_t* first) { return four::loadEveryOtherPixel(first); }
};

}  // namespace

BandRowKernels bandRowKernelsSse2() { return rowKernelsWith<Sse2Vec>(); }

}  // namespace crest

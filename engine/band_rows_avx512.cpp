// The row sums and eight-entry sums with sixteen lanes; this file is
// compiled with -mavx512f. The sample rows keep AVX2's eight lanes (their
// 16-bit operations would need AVX-512BW).
#include <immintrin.h>

#include <type_traits>

#include "engine/band_row_kernels.h"

namespace crest {

BandRowKernels bandRowKernelsAvx2();

namespace {

struct Avx512Vec {
    using T = __m512i;
    static constexpr int kLanes = 16;
    static T load(const std::int32_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::int32_t* p, T x) { _mm512_storeu_si512(p, x); }
    static T add(T x, T y) { return _mm512_add_epi32(x, y); }
    static T sub(T x, T y) { return _mm512_sub_epi32(x, y); }
};

// eightSumsWith's sums with the doubling in registers: a vector of 16 sums
// needs entries m .. m + 22, the vector at m and seven entries of the next,
// shifted across lanes by valignd; `in` is only read, and the last vector's
// loads and stores are masked to the entries there are.
void eightSumsAvx512(std::int32_t* in, std::ptrdiff_t inPlane, std::int32_t* out, std::ptrdiff_t outPlane,
                     std::int32_t count, bool accumulate) {
    for (int w = 0; w < MomentRecord::kWords; ++w) {
        const std::int32_t* const a = in + w * inPlane;
        std::int32_t* const to = out + w * outPlane;
        for (std::int32_t m = 0; m < count; m += 16) {
            const auto first = [](std::int32_t n) {
                return n >= 16 ? __mmask16(0xFFFF) : (n > 0 ? __mmask16((1u << n) - 1) : __mmask16(0));
            };
            // Lanes of sums, of entries from m and of the seven after them.
            const __mmask16 lanes = first(count - m);
            const std::int32_t entries = count + 7 - m;
            const __m512i low = _mm512_maskz_loadu_epi32(first(entries), a + m);
            const __m512i high = _mm512_maskz_loadu_epi32(first(entries - 16 < 7 ? entries - 16 : 7), a + m + 16);
            // valignd through its zero-masking form: the plain one trips
            // GCC 12's maybe-uninitialized warning.
            const auto shift = [](__m512i upper, __m512i lower, auto by) {
                return _mm512_maskz_alignr_epi32(0xFFFF, upper, lower, decltype(by)::value);
            };
            const __m512i pairsLow = _mm512_add_epi32(low, shift(high, low, std::integral_constant<int, 1>{}));
            const __m512i pairsHigh = _mm512_add_epi32(high, shift(high, high, std::integral_constant<int, 1>{}));
            const __m512i foursLow =
                _mm512_add_epi32(pairsLow, shift(pairsHigh, pairsLow, std::integral_constant<int, 2>{}));
            const __m512i foursHigh =
                _mm512_add_epi32(pairsHigh, shift(pairsHigh, pairsHigh, std::integral_constant<int, 2>{}));
            __m512i sum = _mm512_add_epi32(foursLow, shift(foursHigh, foursLow, std::integral_constant<int, 4>{}));
            if (accumulate) sum = _mm512_add_epi32(sum, _mm512_maskz_loadu_epi32(lanes, to + m));
            _mm512_mask_storeu_epi32(to + m, lanes, sum);
        }
    }
}

}  // namespace

BandRowKernels bandRowKernelsAvx512() {
    BandRowKernels kernels = bandRowKernelsAvx2();
    kernels.sumFourRuns = sumFourRunsWith<Avx512Vec>;
    kernels.eightSums = eightSumsAvx512;
    kernels.combinePlanes = combinePlanesWith<Avx512Vec>;
    return kernels;
}

}  // namespace crest

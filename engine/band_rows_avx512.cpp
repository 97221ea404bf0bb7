// The row sums and eight-entry sums with sixteen lanes; this file is
// compiled with -mavx512f. The sample rows keep AVX2's eight lanes (their
// 16-bit operations would need AVX-512BW).
#include <immintrin.h>

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

}  // namespace

BandRowKernels bandRowKernelsAvx512() {
    BandRowKernels kernels = bandRowKernelsAvx2();
    kernels.sumFourRuns = sumFourRunsWith<Avx512Vec>;
    kernels.eightSums = eightSumsWith<Avx512Vec>;
    kernels.combinePlanes = combinePlanesWith<Avx512Vec>;
    return kernels;
}

}  // namespace crest

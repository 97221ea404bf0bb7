// The row sum with sixteen lanes; this file is compiled with -mavx512f. The
// sample rows keep AVX2's eight lanes (their 16-bit operations would need
// AVX-512BW).
#include <immintrin.h>

#include "engine/band_row_kernels.h"

namespace crest {

std::int32_t sampleRowAvx2(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4], std::int32_t* out,
                           std::ptrdiff_t plane, std::int32_t count);

namespace {

struct Avx512Vec {
    using T = __m512i;
    static constexpr int kLanes = 16;
    static T load(const std::int32_t* p) { return _mm512_loadu_si512(p); }
    static void store(std::int32_t* p, T x) { _mm512_storeu_si512(p, x); }
    static T add(T x, T y) { return _mm512_add_epi32(x, y); }
};

}  // namespace

BandRowKernels bandRowKernelsAvx512() { return {sumFourRunsWith<Avx512Vec>, sampleRowAvx2}; }

}  // namespace crest

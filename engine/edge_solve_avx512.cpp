// The batch solve with eight lanes; this file is compiled with -mavx512f
// (and never with FMA: the lanes must round as the scalar solve does).
#include <immintrin.h>

#include "engine/edge_solve_lanes.h"

namespace crest {

namespace {

// The conversions take the zero-masked forms: the plain ones start from an
// undefined register, which GCC 12 reports as maybe uninitialised.
struct Avx512Lanes {
    using D = __m512d;
    using M = __mmask8;
    static constexpr int kLanes = 8;
    static D set(double v) { return _mm512_set1_pd(v); }
    static D sub(D x, D y) { return _mm512_sub_pd(x, y); }
    static D mul(D x, D y) { return _mm512_mul_pd(x, y); }
    static D div(D x, D y) { return _mm512_div_pd(x, y); }
    static D abs(D x) { return _mm512_abs_pd(x); }
    static M greater(D x, D y) { return _mm512_cmp_pd_mask(x, y, _CMP_GT_OQ); }
    static M less(D x, D y) { return _mm512_cmp_pd_mask(x, y, _CMP_LT_OQ); }
    static D select(M m, D ifTrue, D ifFalse) { return _mm512_mask_blend_pd(m, ifFalse, ifTrue); }
    static M andNot(M x, M y) { return static_cast<M>(x & ~y); }
    static D loadWords(const std::int32_t* w) {
        return _mm512_maskz_cvtepi32_pd(0xFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w)));
    }
    static D roundToFloat(D x) { return _mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, x)); }
    static void storeFloats(float* out, D x) { _mm256_storeu_ps(out, _mm512_maskz_cvtpd_ps(0xFF, x)); }
};

}  // namespace

void solveEdgeWeightBatchAvx512(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]) {
    solveBatchWith<Avx512Lanes>(batch, weights);
}

}  // namespace crest

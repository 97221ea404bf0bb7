// The batch solve and estimate with eight lanes; this file is compiled with -mavx512f
// (and never with FMA: the lanes must round as the one-window solve does).
#include <immintrin.h>

#include "engine/edge_solve_lanes.h"

namespace crest {

namespace {

// The conversions take the zero-masked forms: the plain ones start from an
// undefined register, which GCC 12 reports as maybe uninitialised.
struct Avx512Lanes {
    using D = __m512d;
    using M = __mmask8;
    using I = __m256i;
    static constexpr int kLanes = 8;
    static D set(double v) { return _mm512_set1_pd(v); }
    static D add(D x, D y) { return _mm512_add_pd(x, y); }
    static D min(D x, D y) { return _mm512_maskz_min_pd(0xFF, x, y); }
    static D max(D x, D y) { return _mm512_maskz_max_pd(0xFF, x, y); }
    static D sub(D x, D y) { return _mm512_sub_pd(x, y); }
    static D mul(D x, D y) { return _mm512_mul_pd(x, y); }
    static D div(D x, D y) { return _mm512_div_pd(x, y); }
    static D abs(D x) { return _mm512_abs_pd(x); }
    static M greater(D x, D y) { return _mm512_cmp_pd_mask(x, y, _CMP_GT_OQ); }
    static M less(D x, D y) { return _mm512_cmp_pd_mask(x, y, _CMP_LT_OQ); }
    static D select(M m, D ifTrue, D ifFalse) { return _mm512_mask_blend_pd(m, ifFalse, ifTrue); }
    static M andNot(M x, M y) { return static_cast<M>(x & ~y); }
    static void exchangeWhere(M m, D& x, D& y) {
        const D oldX = x;
        x = _mm512_mask_blend_pd(m, x, y);
        y = _mm512_mask_blend_pd(m, y, oldX);
    }
    static bool none(M m) { return m == 0; }
    static D loadWords(const std::int32_t* w) {
        return _mm512_maskz_cvtepi32_pd(0xFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w)));
    }
    static D roundToFloat(D x) { return _mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, x)); }
    static void storeFloats(float* out, D x) { _mm256_storeu_ps(out, _mm512_maskz_cvtpd_ps(0xFF, x)); }
    static I loadPixels(const TaggedPixel* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static D byteOf(I n, int shift) {
        return _mm512_maskz_cvtepi32_pd(
            0xFF, _mm256_and_si256(_mm256_srl_epi32(n, _mm_cvtsi32_si128(shift)), _mm256_set1_epi32(0xFF)));
    }
    static I truncate(D x) { return _mm512_maskz_cvttpd_epi32(0xFF, x); }
    // As four::pixelsFromChannels: the tag without a rounding term.
    static I pixelsOf(I red, I green, I blue) {
        const I weighted = _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(red, _mm256_set1_epi32(kLumaRed)),
                                                             _mm256_mullo_epi32(green, _mm256_set1_epi32(kLumaGreen))),
                                            _mm256_mullo_epi32(blue, _mm256_set1_epi32(kLumaBlue)));
        return _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(_mm256_srli_epi32(weighted, 8), 24),
                                               _mm256_slli_epi32(red, 16)),
                               _mm256_or_si256(_mm256_slli_epi32(green, 8), blue));
    }
    static void storePixels(TaggedPixel* p, I x) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x); }
};

}  // namespace

void solveEdgeWeightBatchAvx512(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]) {
    solveBatchWith<Avx512Lanes>(batch, weights);
}

void estimateEdgePixelBatchAvx512(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]) {
    estimateBatchWith<Avx512Lanes>(batch, pixels);
}

}  // namespace crest

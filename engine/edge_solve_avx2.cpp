// The batch solve and estimate with four lanes; this file is compiled with -mavx2 (and
// never with FMA: the lanes must round as the one-window solve does).
#include <immintrin.h>

#include "engine/edge_solve_lanes.h"
#include "engine/four_pixels.h"

namespace crest {

namespace {

struct Avx2Lanes {
    using D = __m256d;
    using M = __m256d;
    using I = __m128i;
    static constexpr int kLanes = 4;
    static D set(double v) { return _mm256_set1_pd(v); }
    static D add(D x, D y) { return _mm256_add_pd(x, y); }
    static D min(D x, D y) { return _mm256_min_pd(x, y); }
    static D max(D x, D y) { return _mm256_max_pd(x, y); }
    static D sub(D x, D y) { return _mm256_sub_pd(x, y); }
    static D mul(D x, D y) { return _mm256_mul_pd(x, y); }
    static D div(D x, D y) { return _mm256_div_pd(x, y); }
    static D abs(D x) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), x); }
    static M greater(D x, D y) { return _mm256_cmp_pd(x, y, _CMP_GT_OQ); }
    static M less(D x, D y) { return _mm256_cmp_pd(x, y, _CMP_LT_OQ); }
    static D select(M m, D ifTrue, D ifFalse) { return _mm256_blendv_pd(ifFalse, ifTrue, m); }
    static M andNot(M x, M y) { return _mm256_andnot_pd(y, x); }
    static void exchangeWhere(M m, D& x, D& y) {
        const D oldX = x;
        x = _mm256_blendv_pd(x, y, m);
        y = _mm256_blendv_pd(y, oldX, m);
    }
    static bool none(M m) { return _mm256_movemask_pd(m) == 0; }
    static D loadWords(const std::int32_t* w) {
        return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w)));
    }
    static D roundToFloat(D x) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(x)); }
    static void storeFloats(float* out, D x) { _mm_storeu_ps(out, _mm256_cvtpd_ps(x)); }
    static I loadPixels(const TaggedPixel* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static D byteOf(I n, int shift) {
        return _mm256_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(n, _mm_cvtsi32_si128(shift)), _mm_set1_epi32(0xFF)));
    }
    static I truncate(D x) { return _mm256_cvttpd_epi32(x); }
    static I pixelsOf(I red, I green, I blue) { return four::pixelsFromChannels(red, green, blue); }
    static void storePixels(TaggedPixel* p, I x) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), x); }
};

}  // namespace

void solveEdgeWeightBatchAvx2(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]) {
    solveBatchWith<Avx2Lanes>(batch, weights);
}

void estimateEdgePixelBatchAvx2(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]) {
    estimateBatchWith<Avx2Lanes>(batch, pixels);
}

}  // namespace crest

// The batch solve and estimate with SSE2 pairs; the four and eight lanes of
// AVX2 and AVX-512F are in their own files.
#include <emmintrin.h>

#include "engine/edge_estimate.h"
#include "engine/edge_solve_lanes.h"
#include "engine/four_pixels.h"
#include "engine/kernels_by_set.h"

namespace crest {

namespace {

struct Sse2Lanes {
    using D = __m128d;
    using M = __m128d;
    using I = __m128i;  // lanes 0 and 1
    static constexpr int kLanes = 2;
    static D set(double v) { return _mm_set1_pd(v); }
    static D add(D x, D y) { return _mm_add_pd(x, y); }
    static D min(D x, D y) { return _mm_min_pd(x, y); }
    static D max(D x, D y) { return _mm_max_pd(x, y); }
    static D sub(D x, D y) { return _mm_sub_pd(x, y); }
    static D mul(D x, D y) { return _mm_mul_pd(x, y); }
    static D div(D x, D y) { return _mm_div_pd(x, y); }
    static D abs(D x) { return _mm_andnot_pd(_mm_set1_pd(-0.0), x); }
    static M greater(D x, D y) { return _mm_cmpgt_pd(x, y); }
    static M less(D x, D y) { return _mm_cmplt_pd(x, y); }
    static D select(M m, D ifTrue, D ifFalse) { return _mm_or_pd(_mm_and_pd(m, ifTrue), _mm_andnot_pd(m, ifFalse)); }
    static M andNot(M x, M y) { return _mm_andnot_pd(y, x); }
    // Three operations where two selects take six.
    static void exchangeWhere(M m, D& x, D& y) {
        const D flip = _mm_and_pd(m, _mm_xor_pd(x, y));
        x = _mm_xor_pd(x, flip);
        y = _mm_xor_pd(y, flip);
    }
    static bool none(M m) { return _mm_movemask_pd(m) == 0; }
    static D loadWords(const std::int32_t* w) {
        return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w)));
    }
    static D roundToFloat(D x) { return _mm_cvtps_pd(_mm_cvtpd_ps(x)); }
    static void storeFloats(float* out, D x) { _mm_storel_pi(reinterpret_cast<__m64*>(out), _mm_cvtpd_ps(x)); }
    static I loadPixels(const TaggedPixel* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
    static D byteOf(I n, int shift) {
        return _mm_cvtepi32_pd(_mm_and_si128(_mm_srl_epi32(n, _mm_cvtsi32_si128(shift)), _mm_set1_epi32(0xFF)));
    }
    static I truncate(D x) { return _mm_cvttpd_epi32(x); }
    static I pixelsOf(I red, I green, I blue) { return four::pixelsFromChannels(red, green, blue); }
    static void storePixels(TaggedPixel* p, I x) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), x); }
};

}  // namespace

void solveEdgeWeightBatchSse2(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]) {
    solveBatchWith<Sse2Lanes>(batch, weights);
}

void estimateEdgePixelBatchSse2(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]) {
    estimateBatchWith<Sse2Lanes>(batch, pixels);
}

}  // namespace crest

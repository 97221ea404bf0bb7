#include "engine/edge_estimate.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include <emmintrin.h>

// Every build the engine has is x86 with SSE2 (32-bit builds are compiled with
// -msse2 -mfpmath=sse): the estimate is written for it.
#if !defined(__SSE2__)
#error "the engine needs SSE2"
#endif

namespace crest {

namespace {

// The normal equations with their rows in pivot order (row i is the row the
// elimination placed at position i), each row's columns 1-3 and right-hand
// side as two pairs of doubles, so that an update takes two of them in one
// multiply and one subtract: per lane the same IEEE operations, in the same
// order, as the plain solve that keeps its rows in place and walks them
// through an order table (the tests keep that one as the reference), hence
// the same bits. Column 0 is apart because it dies after the first step,
// leaving 8 registers for the system.
// Lanes left of the diagonal in the rows under it are zero in the plain
// solve and never read; here they keep leftovers, which nothing reads either.
struct Row {
    double first;    // column 0
    __m128d middle;  // columns 1 and 2
    __m128d last;    // column 3 and the right-hand side, always a float's value
};

inline __m128d pairOf(double low, double high) { return _mm_setr_pd(low, high); }

template <int C>
inline __m128d broadcastColumn(const Row& row) {
    if constexpr (C == 0) return _mm_set1_pd(row.first);
    if constexpr (C == 1) return _mm_unpacklo_pd(row.middle, row.middle);
    if constexpr (C == 2) return _mm_unpackhi_pd(row.middle, row.middle);
    if constexpr (C == 3) return _mm_unpacklo_pd(row.last, row.last);
}

template <int C>
inline double column(const Row& row) {
    if constexpr (C == 0) return row.first;
    return _mm_cvtsd_f64(broadcastColumn<C>(row));
}

inline __m128d broadcastRhs(const Row& row) { return _mm_unpackhi_pd(row.last, row.last); }

// Column 3 as computed, the right-hand side rounded to float as the plain
// solve stores it.
inline __m128d withFloatRhs(__m128d last) { return _mm_move_sd(_mm_cvtps_pd(_mm_cvtpd_ps(last)), last); }

template <int C>
inline void zeroColumn(Row& row) {
    const __m128d zero = _mm_setzero_pd();
    if constexpr (C == 0) row.first = 0.0;
    if constexpr (C == 1) row.middle = _mm_move_sd(row.middle, zero);
    if constexpr (C == 2) row.middle = _mm_move_sd(zero, row.middle);
    if constexpr (C == 3) row.last = _mm_move_sd(row.last, zero);
}

inline void swapRows(Row& one, Row& other) {
    std::swap(one.first, other.first);
    std::swap(one.middle, other.middle);
    std::swap(one.last, other.last);
}

// row -= factor * pivot over the columns right of K (a pair holding K is
// taken whole) and the right-hand side.
template <int K>
inline void subtractScaled(Row& row, const Row& pivot, __m128d factor) {
    if constexpr (K <= 1) row.middle = _mm_sub_pd(row.middle, _mm_mul_pd(factor, pivot.middle));
    row.last = withFloatRhs(_mm_sub_pd(row.last, _mm_mul_pd(factor, pivot.last)));
}

// Calls step.template operator()<I>() for I = First .. Last - 1. Constant
// row indices let the compiler keep the rows in registers: a loop index
// would keep the array in memory.
template <int First, int Last, typename Step>
inline void forRows(Step&& step) {
    if constexpr (First < Last) {
        step.template operator()<First>();
        forRows<First + 1, Last>(step);
    }
}

template <int K>
inline void eliminateColumn(Row r[4]) {
    int best = K;
    double bestMagnitude = std::fabs(column<K>(r[K]));
    forRows<K + 1, 4>([&]<int I>() {
        const double magnitude = std::fabs(column<K>(r[I]));
        if (magnitude > bestMagnitude) {
            bestMagnitude = magnitude;
            best = I;
        }
    });
    if constexpr (K + 1 < 4) if (best == K + 1) swapRows(r[K], r[K + 1]);
    if constexpr (K + 2 < 4) if (best == K + 2) swapRows(r[K], r[K + 2]);
    if constexpr (K + 3 < 4) if (best == K + 3) swapRows(r[K], r[K + 3]);

    if (bestMagnitude < kSmallestPivot) {
        // Nearly singular: direction K gets weight 0 and leaves the solve.
        forRows<0, 4>([&]<int I>() { zeroColumn<K>(r[I]); });
        r[K].first = K == 0 ? 1.0 : 0.0;
        r[K].middle = pairOf(K == 1 ? 1.0 : 0.0, K == 2 ? 1.0 : 0.0);
        r[K].last = pairOf(K == 3 ? 1.0 : 0.0, 0.0);
        return;
    }

    const __m128d inverse = _mm_set1_pd(1.0 / column<K>(r[K]));
    forRows<K + 1, 4>([&]<int I>() { subtractScaled<K>(r[I], r[K], _mm_mul_pd(inverse, broadcastColumn<K>(r[I]))); });
    // The diagonal, now 1, is not read again.
    if constexpr (K <= 1) r[K].middle = _mm_mul_pd(inverse, r[K].middle);
    r[K].last = withFloatRhs(_mm_mul_pd(r[K].last, inverse));
}

// Only the right-hand sides change; the columns are not read afterwards.
template <int K>
inline void substituteColumn(Row r[4]) {
    const __m128d solved = broadcastRhs(r[K]);
    // Rows K-1 down to 0 in the plain solve; each depends only on itself.
    forRows<0, K>([&]<int I>() {
        r[I].last = withFloatRhs(_mm_sub_pd(r[I].last, _mm_mul_pd(solved, broadcastColumn<K>(r[I]))));
    });
}

inline __m128i loadFourWords(const std::int32_t* w) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(w)); }

// The symmetric matrix from words 0-9 and the right-hand side from words
// 10-13 (as floats, then doubles), converted two or four at a time.
inline void loadRows(const std::int32_t* w, Row r[4]) {
    const __m128i w0to3 = loadFourWords(w), w4to7 = loadFourWords(w + 4), w8to11 = loadFourWords(w + 8);
    const __m128d w01 = _mm_cvtepi32_pd(w0to3), w23 = _mm_cvtepi32_pd(_mm_unpackhi_epi64(w0to3, w0to3));
    const __m128d w45 = _mm_cvtepi32_pd(w4to7), w67 = _mm_cvtepi32_pd(_mm_unpackhi_epi64(w4to7, w4to7));
    const __m128d w89 = _mm_cvtepi32_pd(w8to11);
    const __m128 rhs = _mm_cvtepi32_ps(loadFourWords(w + 10));
    const __m128d b01 = _mm_cvtps_pd(rhs), b23 = _mm_cvtps_pd(_mm_movehl_ps(rhs, rhs));
    r[0] = {_mm_cvtsd_f64(w01), _mm_shuffle_pd(w01, w23, 1), _mm_unpacklo_pd(_mm_unpackhi_pd(w23, w23), b01)};
    r[1] = {_mm_cvtsd_f64(_mm_unpackhi_pd(w01, w01)), w45, _mm_move_sd(b01, w67)};
    r[2] = {_mm_cvtsd_f64(w23), _mm_unpackhi_pd(w45, w67), _mm_unpacklo_pd(w89, b23)};
    r[3] = {_mm_cvtsd_f64(_mm_unpackhi_pd(w23, w23)), _mm_unpacklo_pd(w67, w89), _mm_unpackhi_pd(w89, b23)};
}

// The weights x0..x3 as pairs (x0, x1) and (x2, x3): floats' values in doubles.
inline void solveWeightPairs(const std::int32_t* w, __m128d& x01, __m128d& x23) {
    Row r[4];
    loadRows(w, r);
    eliminateColumn<0>(r);
    eliminateColumn<1>(r);
    eliminateColumn<2>(r);
    eliminateColumn<3>(r);
    substituteColumn<3>(r);
    substituteColumn<2>(r);
    substituteColumn<1>(r);
    x01 = _mm_unpackhi_pd(r[0].last, r[1].last);
    x23 = _mm_unpackhi_pd(r[2].last, r[3].last);
}

inline void solveRows(const std::int32_t* w, float weights[4]) {
    __m128d x01, x23;
    solveWeightPairs(w, x01, x23);
    _mm_storeu_ps(weights, _mm_movelh_ps(_mm_cvtpd_ps(x01), _mm_cvtpd_ps(x23)));
}

}  // namespace

// Every unstored intermediate is a double and every stored value is rounded
// to the type it is declared with; the build forbids contraction into fused
// multiply-adds and x87 extended precision, so each frame is bit-exact on
// every platform. Partial pivoting, ties to the earliest row in pivot order.
void solveEdgeWeights(const MomentRecord& window, float weights[4]) { solveRows(window.word, weights); }

std::uint32_t channelToByte(float value) {
    if (value <= 0.0f) return 0;
    if (value >= 255.0f) return 255;
    return static_cast<std::uint32_t>(value);
}

namespace {

// (77 R + 150 G + 29 B) / 256, truncated: unlike tagPixel, no rounding term.
TaggedPixel withTag(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    const std::uint32_t tag = (kLumaRed * red + kLumaGreen * green + kLumaBlue * blue) >> 8;
    return (tag << 24) | (red << 16) | (green << 8) | blue;
}

std::uint32_t byteAt(TaggedPixel pixel, int shift) { return (pixel >> shift) & 0xFFu; }

// Each lane below sees the operations of one of the estimate's expressions
// in their order, so the pixel has the same bits whatever the vector width.

inline __m128d lowPair(__m128i v) { return _mm_cvtepi32_pd(v); }
inline __m128d highPair(__m128i v) { return _mm_cvtepi32_pd(_mm_unpackhi_epi64(v, v)); }

// (77 R + 150 G + 29 B) / 256 of two neighbours, exactly: each factor is a
// short binary fraction.
inline __m128d lumaPair(__m128d blue, __m128d green, __m128d red) {
    return _mm_add_pd(
        _mm_add_pd(_mm_mul_pd(blue, _mm_set1_pd(kLumaBlueShare)), _mm_mul_pd(green, _mm_set1_pd(kLumaGreenShare))),
        _mm_mul_pd(red, _mm_set1_pd(kLumaRedShare)));
}

// The luma correction from the weights' departures and the neighbours
// (lanes 0-3), summed from neighbour 3 down to 0: ((Y3 w3 + Y2 w2) + Y1 w1) + Y0 w0;
// the 0.5 turns the truncation of the channels into rounding to nearest.
inline float lumaCorrection(__m128i n, __m128d x01, __m128d x23) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    const __m128i blue = _mm_and_si128(n, byte);
    const __m128i green = _mm_and_si128(_mm_srli_epi32(n, 8), byte);
    const __m128i red = _mm_and_si128(_mm_srli_epi32(n, 16), byte);
    const __m128d quarter = _mm_set1_pd(0.25);
    const __m128d p01 = _mm_mul_pd(lumaPair(lowPair(blue), lowPair(green), lowPair(red)), _mm_sub_pd(x01, quarter));
    const __m128d p23 = _mm_mul_pd(lumaPair(highPair(blue), highPair(green), highPair(red)), _mm_sub_pd(x23, quarter));
    __m128d sum = _mm_add_sd(_mm_unpackhi_pd(p23, p23), p23);
    sum = _mm_add_sd(sum, _mm_unpackhi_pd(p01, p01));
    sum = _mm_add_sd(sum, p01);
    sum = _mm_add_sd(sum, _mm_set_sd(0.5));
    return _mm_cvtss_f32(_mm_cvtsd_ss(_mm_setzero_ps(), sum));
}

// Blue, green and red of the estimate in bytes 0-2 (byte 3 is left over):
// float(sum / 4 + correction), then channelToByte, for the three channels at once. The
// clamp keeps channelToByte's answers: max(v, 0) turns v <= 0 into 0 and
// min(., 255) turns v >= 255 into 255; between them truncation is the same.
inline std::uint32_t channelBytes(__m128i n, float correction) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_add_epi16(_mm_unpacklo_epi8(n, zero), _mm_unpackhi_epi8(n, zero));
    const __m128i sums = _mm_unpacklo_epi16(_mm_add_epi16(words, _mm_srli_si128(words, 8)), zero);
    const __m128d offset = _mm_set1_pd(static_cast<double>(correction));
    const __m128d quarter = _mm_set1_pd(0.25);
    const __m128 value = _mm_movelh_ps(_mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(lowPair(sums), quarter), offset)),
                                       _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(highPair(sums), quarter), offset)));
    const __m128 clamped = _mm_min_ps(_mm_max_ps(value, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    const __m128i channels = _mm_cvttps_epi32(clamped);
    const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(channels, channels), zero);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(packed));
}

}  // namespace

TaggedPixel estimateEdgePixel(const MomentRecord& window, TaggedPixel n0, TaggedPixel n1, TaggedPixel n2,
                              TaggedPixel n3) {
    __m128d x01, x23;
    solveWeightPairs(window.word, x01, x23);
    const __m128i n = _mm_setr_epi32(static_cast<int>(n0), static_cast<int>(n1), static_cast<int>(n2),
                                     static_cast<int>(n3));
    const std::uint32_t channels = channelBytes(n, lumaCorrection(n, x01, x23));
    return withTag(byteAt(channels, 16), byteAt(channels, 8), byteAt(channels, 0));
}

}  // namespace crest

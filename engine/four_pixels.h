// Four pixels at once with SSE2, every second pixel of a row (so four span
// seven pixels): gathering and storing them, the activity test, the smooth
// fill, tagging, and packing channel bytes into tagged pixels. The pass's
// target groups, the band rows, the seeding and the batch estimate share
// them.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "engine/tagged_pixel.h"

// activeLanesOf's operations for a vector type whose intrinsics begin with
// `prefix` (_mm_, _mm256_) and whose integer kind is `bits` (si128, si256).
#define CREST_ACTIVITY_LANES(Name, Vector, prefix, bits)                                                  \
    struct Name {                                                                                         \
        using T = Vector;                                                                                 \
        static T tags(T x) { return prefix##srli_epi32(x, 24); }                                          \
        static T add(T x, T y) { return prefix##add_epi32(x, y); }                                        \
        static T sub(T x, T y) { return prefix##sub_epi32(x, y); }                                        \
        static T times4(T x) { return prefix##slli_epi32(x, 2); }                                         \
        static T madd16(T x, T y) { return prefix##madd_epi16(x, y); }                                    \
        static int atLeast(T x, std::int32_t threshold) {                                                 \
            const T above = prefix##cmpgt_epi32(x, prefix##set1_epi32(threshold - 1));                    \
            return prefix##movemask_ps(prefix##cast##bits##_ps(above));                                  \
        }                                                                                                 \
    }

// Internal linkage: files compiled for wider sets include this too, and no
// copy of theirs may stand in for another file's.
namespace crest {
namespace {
namespace four {

// Lanes 0..3: the pixels at `first` + 0, 2, 4 and 6 pixels. Reads pixels
// 0..6 only, so a group ending at the row's last target stays in the row.
inline __m128i loadEveryOtherPixel(const std::uint8_t* first) {
    const __m128 low = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first)));
    const __m128 high = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 12)));
    // low holds pixels 0..3, high pixels 3..6.
    return _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 2, 0)));
}

inline std::uint32_t lane(__m128i v, int k) {
    switch (k) {
        case 0: return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
        case 1: return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 1)));
        case 2: return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 2)));
        default: return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 3)));
    }
}

inline void storePixelLane(std::uint8_t* address, __m128i v, int k) {
    const std::int32_t pixel = static_cast<std::int32_t>(lane(v, k));
    __builtin_memcpy(address, &pixel, sizeof pixel);
}

// Writes lanes 0..3 to `first` + 0, 2, 4 and 6 pixels; the pixels between
// them keep their values.
inline void storeEveryOtherPixel(std::uint8_t* first, __m128i v) {
    for (int k = 0; k < 4; ++k) storePixelLane(first + 8 * k, v, k);
}

// Bit k set when target k is active: 4 sum(t^2) - (sum t)^2 >= threshold,
// as tagActivity, for vectors of any width. Tags are below 256 and sums
// below 1021, so the 16-bit multiply-adds (high halves zero) give the exact
// 32-bit products. V supplies T, tags (each pixel's top byte), add, sub,
// times4, madd16 and atLeast (the lane mask of x >= threshold).
template <typename V>
int activeLanesOf(const typename V::T (&n)[4], std::int32_t threshold) {
    const typename V::T t0 = V::tags(n[0]), t1 = V::tags(n[1]), t2 = V::tags(n[2]), t3 = V::tags(n[3]);
    const typename V::T sum = V::add(V::add(t0, t1), V::add(t2, t3));
    const typename V::T squares =
        V::add(V::add(V::madd16(t0, t0), V::madd16(t1, t1)), V::add(V::madd16(t2, t2), V::madd16(t3, t3)));
    return V::atLeast(V::sub(V::times4(squares), V::madd16(sum, sum)), threshold);
}

CREST_ACTIVITY_LANES(Sse2ActivityLanes, __m128i, _mm_, si128);

inline int activeLanes(const __m128i (&n)[4], std::int32_t threshold) {
    return activeLanesOf<Sse2ActivityLanes>(n, threshold);
}

// averagePixels lane by lane.
inline __m128i averageFour(__m128i a, __m128i b) {
    const __m128i half = _mm_and_si128(_mm_srli_epi32(_mm_xor_si128(a, b), 1), _mm_set1_epi32(0x7F7F7F7F));
    return _mm_add_epi32(_mm_and_si128(a, b), half);
}

// tagPixel lane by lane: 29 B + 77 R from one multiply-add of the pixel's
// blue and red halves, 150 G + 128 from another.
inline __m128i tagFour(__m128i pixel) {
    const __m128i blueRed = _mm_and_si128(pixel, _mm_set1_epi32(0x00FF00FF));
    const __m128i greenOne = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(pixel, 8), _mm_set1_epi32(0xFF)),
                                          _mm_set1_epi32(0x10000));
    const __m128i luma =
        _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(blueRed, _mm_set1_epi32((kLumaRed << 16) | kLumaBlue)),
                                     _mm_madd_epi16(greenOne, _mm_set1_epi32((128 << 16) | kLumaGreen))),
                       8);
    return _mm_or_si128(_mm_and_si128(pixel, _mm_set1_epi32(0x00FFFFFF)), _mm_slli_epi32(luma, 24));
}

// The estimate's output pixels from channel bytes lane by lane: the tag
// (77 R + 150 G + 29 B) >> 8 has no rounding term, unlike tagFour.
inline __m128i pixelsFromChannels(__m128i red, __m128i green, __m128i blue) {
    const __m128i weighted = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(red, _mm_set1_epi32(kLumaRed)),
                                                         _mm_madd_epi16(green, _mm_set1_epi32(kLumaGreen))),
                                           _mm_madd_epi16(blue, _mm_set1_epi32(kLumaBlue)));
    return _mm_or_si128(_mm_or_si128(_mm_slli_epi32(_mm_srli_epi32(weighted, 8), 24), _mm_slli_epi32(red, 16)),
                        _mm_or_si128(_mm_slli_epi32(green, 8), blue));
}

// smoothFill lane by lane.
inline __m128i smoothFillFour(const __m128i n[4]) {
    return tagFour(averageFour(averageFour(n[0], n[1]), averageFour(n[2], n[3])));
}

}  // namespace four
}  // namespace
}  // namespace crest

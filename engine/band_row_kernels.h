// The band row kernels as templates over a vector of 32-bit lanes; included
// by one source file per instruction set, each compiled for it, so
// everything here has internal linkage.
//
// Vec supplies: T, kLanes, load/store (unaligned), add, sub, srli24 (tag of each
// pixel), min16/max16 (16-bit min and max: tags have zero upper halves),
// madd16 (16-bit multiply-add: the exact 32-bit product of two tags) and
// loadEveryOtherPixel (kLanes pixels, every second one, reading no pixel
// beyond the last of them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/band_rows.h"
#include "engine/moment_record.h"

namespace crest {
namespace {

template <typename Vec>
void sumFourRunsWith(std::int32_t* __restrict out, const std::int32_t* __restrict a, const std::int32_t* __restrict b,
                     const std::int32_t* __restrict c, const std::int32_t* __restrict d, std::ptrdiff_t words) {
    std::ptrdiff_t w = 0;
    // Four vectors a step keeps more loads in flight: a 1080p frame ran ~6%
    // faster so with sixteen lanes, ~2% with eight.
#pragma GCC unroll 4
    for (; w + Vec::kLanes <= words; w += Vec::kLanes)
        Vec::store(out + w, Vec::add(Vec::add(Vec::load(a + w), Vec::load(b + w)), Vec::add(Vec::load(c + w), Vec::load(d + w))));
    for (; w < words; ++w) out[w] = a[w] + b[w] + c[w] + d[w];
}

// fillSampleRecord lane by lane, whole vectors only; returns the samples
// done. With Difference the products of the samples at `leaving` (the same
// row positions of another row) are subtracted; with Accumulate the result
// is added to what `out` holds rather than stored. (The caller finishes the
// row: this file calls nothing with external linkage, so no out-of-line copy
// compiled for a wider set can stand in for another file's.)
template <typename Vec>
struct SampleProducts {
    typename Vec::T word[MomentRecord::kWords];

    explicit SampleProducts(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4]) {
        using T = typename Vec::T;
        const T n0 = Vec::srli24(Vec::loadEveryOtherPixel(sample + train[0]));
        const T n1 = Vec::srli24(Vec::loadEveryOtherPixel(sample + train[1]));
        const T n2 = Vec::srli24(Vec::loadEveryOtherPixel(sample + train[2]));
        const T n3 = Vec::srli24(Vec::loadEveryOtherPixel(sample + train[3]));
        const T centre = Vec::srli24(Vec::loadEveryOtherPixel(sample));
        const T lo = Vec::min16(Vec::min16(n0, n1), Vec::min16(n2, n3));
        const T hi = Vec::max16(Vec::max16(n0, n1), Vec::max16(n2, n3));
        const T c = Vec::min16(Vec::max16(centre, lo), hi);
        const T products[MomentRecord::kWords] = {
            Vec::madd16(n0, n0), Vec::madd16(n1, n0), Vec::madd16(n2, n0), Vec::madd16(n3, n0), Vec::madd16(n1, n1),
            Vec::madd16(n2, n1), Vec::madd16(n3, n1), Vec::madd16(n2, n2), Vec::madd16(n3, n2), Vec::madd16(n3, n3),
            Vec::madd16(c, n0),  Vec::madd16(c, n1),  Vec::madd16(c, n2),  Vec::madd16(c, n3)};
        for (int w = 0; w < MomentRecord::kWords; ++w) word[w] = products[w];
    }
};

template <typename Vec, bool Accumulate, bool Difference>
std::int32_t sampleRowWith(const std::uint8_t* sample, const std::uint8_t* leaving, const std::ptrdiff_t (&train)[4],
                           std::int32_t* out, std::ptrdiff_t plane, std::int32_t count) {
    std::int32_t i = 0;
    for (; i + Vec::kLanes <= count; i += Vec::kLanes, sample += 8 * Vec::kLanes, leaving += 8 * Vec::kLanes) {
        SampleProducts<Vec> products(sample, train);
        if constexpr (Difference) {
            const SampleProducts<Vec> left(leaving, train);
            for (int w = 0; w < MomentRecord::kWords; ++w) products.word[w] = Vec::sub(products.word[w], left.word[w]);
        }
        for (int w = 0; w < MomentRecord::kWords; ++w) {
            std::int32_t* const to = out + w * plane + i;
            Vec::store(to, Accumulate ? Vec::add(Vec::load(to), products.word[w]) : products.word[w]);
        }
    }
    return i;
}

// The bands' sample row: products stored.
template <typename Vec>
std::int32_t storeSampleRowWith(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4], std::int32_t* out,
                                std::ptrdiff_t plane, std::int32_t count) {
    return sampleRowWith<Vec, false, false>(sample, sample, train, out, plane, count);
}

// Eight-entry sums of every plane by doubling: pairs, fours, eights, each
// step two loads and one addition a vector. `in` holds `count` + 7 entries
// a plane and room for kMaxLanes beyond them (its steps run in whole vectors,
// whatever lies there spoiling only sums that are not taken); it is
// overwritten. out[w * outPlane + m] gets (or, accumulating, gains) the sum
// of in[w * inPlane + m .. m + 7], m < count.
template <typename Vec>
void eightSumsWith(std::int32_t* __restrict in, std::ptrdiff_t inPlane, std::int32_t* __restrict out,
                   std::ptrdiff_t outPlane, std::int32_t count, bool accumulate) {
    for (int w = 0; w < MomentRecord::kWords; ++w) {
        std::int32_t* const a = in + w * inPlane;
        std::int32_t* const to = out + w * outPlane;
        // In place and ascending: a step's loads run ahead of its stores.
        for (std::int32_t m = 0; m < count + 6; m += Vec::kLanes)
            Vec::store(a + m, Vec::add(Vec::load(a + m), Vec::load(a + m + 1)));
        for (std::int32_t m = 0; m < count + 4; m += Vec::kLanes)
            Vec::store(a + m, Vec::add(Vec::load(a + m), Vec::load(a + m + 2)));
        std::int32_t m = 0;
        for (; m + Vec::kLanes <= count; m += Vec::kLanes) {
            const typename Vec::T sum = Vec::add(Vec::load(a + m), Vec::load(a + m + 4));
            Vec::store(to + m, accumulate ? Vec::add(Vec::load(to + m), sum) : sum);
        }
        for (; m < count; ++m) to[m] = (accumulate ? to[m] : 0) + a[m] + a[m + 4];
    }
}

// out = a + b, less c when there is one, word by word over 14 planes of
// `count` entries, each operand with its own plane stride. `out` may be `a`
// shifted forward (a's loads run ahead of out's stores) or a itself.
template <typename Vec>
void combinePlanesWith(std::int32_t* out, std::ptrdiff_t outPlane, const std::int32_t* a, std::ptrdiff_t aPlane,
                       const std::int32_t* b, std::ptrdiff_t bPlane, const std::int32_t* c, std::ptrdiff_t cPlane,
                       std::int32_t count) {
    for (int w = 0; w < MomentRecord::kWords; ++w) {
        std::int32_t* const o = out + w * outPlane;
        const std::int32_t* const x = a + w * aPlane;
        const std::int32_t* const y = b + w * bPlane;
        std::int32_t m = 0;
        if (c == nullptr) {
            for (; m + Vec::kLanes <= count; m += Vec::kLanes)
                Vec::store(o + m, Vec::add(Vec::load(x + m), Vec::load(y + m)));
            for (; m < count; ++m) o[m] = x[m] + y[m];
            continue;
        }
        const std::int32_t* const z = c + w * cPlane;
        for (; m + Vec::kLanes <= count; m += Vec::kLanes)
            Vec::store(o + m, Vec::sub(Vec::add(Vec::load(x + m), Vec::load(y + m)), Vec::load(z + m)));
        for (; m < count; ++m) o[m] = x[m] + y[m] - z[m];
    }
}

}  // namespace
}  // namespace crest

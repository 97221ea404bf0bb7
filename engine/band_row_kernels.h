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
        Vec::store(out + w, Vec::add(Vec::add(Vec::load(a + w), Vec::load(b + w)),
                                     Vec::add(Vec::load(c + w), Vec::load(d + w))));
    for (; w < words; ++w) out[w] = a[w] + b[w] + c[w] + d[w];
}

// fillSampleRecord lane by lane from five vectors of tags: the four
// neighbours and the centre, which is clamped here. word(w) forms one
// product, so that callers combining two samples' products keep only the
// tags in registers.
template <typename Vec>
struct SampleProducts {
    using T = typename Vec::T;
    T n[5];  // the neighbours, then the clamped centre

    SampleProducts(T n0, T n1, T n2, T n3, T centre) : n{n0, n1, n2, n3, centre} {
        const T lo = Vec::min16(Vec::min16(n0, n1), Vec::min16(n2, n3));
        const T hi = Vec::max16(Vec::max16(n0, n1), Vec::max16(n2, n3));
        n[4] = Vec::min16(Vec::max16(centre, lo), hi);
    }

    // From the pixels: each lane's training neighbours `train[j]` bytes away.
    SampleProducts(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4])
        : SampleProducts(Vec::srli24(Vec::loadEveryOtherPixel(sample + train[0])),
                         Vec::srli24(Vec::loadEveryOtherPixel(sample + train[1])),
                         Vec::srli24(Vec::loadEveryOtherPixel(sample + train[2])),
                         Vec::srli24(Vec::loadEveryOtherPixel(sample + train[3])),
                         Vec::srli24(Vec::loadEveryOtherPixel(sample))) {}

    // From rows of tags: tags[j] for neighbour j, tags[4] the centres.
    SampleProducts(const std::int32_t* const (&tags)[5], std::int32_t i)
        : SampleProducts(Vec::load(tags[0] + i), Vec::load(tags[1] + i), Vec::load(tags[2] + i), Vec::load(tags[3] + i),
                         Vec::load(tags[4] + i)) {}

    // Word w of the record: the factors of each word, the centre being 4.
    T word(int w) const {
        constexpr int kFirst[MomentRecord::kWords] = {0, 1, 2, 3, 1, 2, 3, 2, 3, 3, 4, 4, 4, 4};
        constexpr int kSecond[MomentRecord::kWords] = {0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 0, 1, 2, 3};
        return Vec::madd16(n[kFirst[w]], n[kSecond[w]]);
    }
};

// The same products of single samples, for the ends of rows.
inline void tagProductsOfOne(const std::int32_t* const (&tags)[5], std::int32_t i,
                             std::int32_t (&word)[MomentRecord::kWords]) {
    const std::int32_t n0 = tags[0][i], n1 = tags[1][i], n2 = tags[2][i], n3 = tags[3][i], centre = tags[4][i];
    const std::int32_t lo01 = n0 < n1 ? n0 : n1, lo23 = n2 < n3 ? n2 : n3;
    const std::int32_t hi01 = n0 < n1 ? n1 : n0, hi23 = n2 < n3 ? n3 : n2;
    const std::int32_t lo = lo01 < lo23 ? lo01 : lo23;
    const std::int32_t hi = hi01 < hi23 ? hi23 : hi01;
    const std::int32_t c = centre < lo ? lo : (hi < centre ? hi : centre);
    const std::int32_t products[MomentRecord::kWords] = {n0 * n0, n1 * n0, n2 * n0, n3 * n0, n1 * n1, n2 * n1, n3 * n1,
                                                         n2 * n2, n3 * n2, n3 * n3, c * n0,  c * n1,  c * n2,  c * n3};
    for (int w = 0; w < MomentRecord::kWords; ++w) word[w] = products[w];
}

// The products of `count` samples whose tags are in rows of tags (entry i
// of tags[j] for sample i), less those of `leaving` when differencing,
// stored in or (Accumulate) added to out[w * plane + i].
template <typename Vec, bool Accumulate, bool Difference>
void tagProductsWith(const std::int32_t* const (&tags)[5], const std::int32_t* const (&leaving)[5], std::int32_t* out,
                     std::ptrdiff_t plane, std::int32_t count) {
    std::int32_t i = 0;
    for (; i + Vec::kLanes <= count; i += Vec::kLanes) {
        const SampleProducts<Vec> entering(tags, i);
        const SampleProducts<Vec> left(Difference ? leaving : tags, i);
#pragma GCC unroll 14
        for (int w = 0; w < MomentRecord::kWords; ++w) {
            std::int32_t* const to = out + w * plane + i;
            typename Vec::T value = entering.word(w);
            if constexpr (Difference) value = Vec::sub(value, left.word(w));
            Vec::store(to, Accumulate ? Vec::add(Vec::load(to), value) : value);
        }
    }
    for (; i < count; ++i) {
        std::int32_t word[MomentRecord::kWords], left[MomentRecord::kWords] = {};
        tagProductsOfOne(tags, i, word);
        if constexpr (Difference) tagProductsOfOne(leaving, i, left);
        for (int w = 0; w < MomentRecord::kWords; ++w) {
            std::int32_t& to = out[w * plane + i];
            to = (Accumulate ? to : 0) + word[w] - left[w];
        }
    }
}

// The tags of `count` pixels, every second one from `first`.
template <typename Vec>
void tagRowWith(const std::uint8_t* first, std::int32_t* out, std::int32_t count) {
    std::int32_t i = 0;
    for (; i + Vec::kLanes <= count; i += Vec::kLanes)
        Vec::store(out + i, Vec::srli24(Vec::loadEveryOtherPixel(first + 8 * static_cast<std::ptrdiff_t>(i))));
    for (; i < count; ++i) {
        std::uint32_t pixel;
        __builtin_memcpy(&pixel, first + 8 * static_cast<std::ptrdiff_t>(i), sizeof pixel);
        out[i] = static_cast<std::int32_t>(pixel >> 24);
    }
}

// The bands' sample row: products stored, whole vectors only; returns the
// samples done. (The caller finishes the row: this file calls nothing with
// external linkage, so no out-of-line copy compiled for a wider set can
// stand in for another file's.)
template <typename Vec>
std::int32_t storeSampleRowWith(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4], std::int32_t* out,
                                std::ptrdiff_t plane, std::int32_t count) {
    std::int32_t i = 0;
    for (; i + Vec::kLanes <= count; i += Vec::kLanes, sample += 8 * Vec::kLanes) {
        const SampleProducts<Vec> products(sample, train);
#pragma GCC unroll 14
        for (int w = 0; w < MomentRecord::kWords; ++w) Vec::store(out + w * plane + i, products.word(w));
    }
    return i;
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
// `count` entries, each operand with its own plane stride, in whole vectors:
// every plane of every operand has room for kMaxLanes - 1 entries beyond
// `count`, and those of out get unspecified values. `out` may be `a` shifted
// forward (a's loads run ahead of out's stores) or a itself.
template <typename Vec>
void combinePlanesWith(std::int32_t* out, std::ptrdiff_t outPlane, const std::int32_t* a, std::ptrdiff_t aPlane,
                       const std::int32_t* b, std::ptrdiff_t bPlane, const std::int32_t* c, std::ptrdiff_t cPlane,
                       std::int32_t count) {
    for (int w = 0; w < MomentRecord::kWords; ++w) {
        std::int32_t* const o = out + w * outPlane;
        const std::int32_t* const x = a + w * aPlane;
        const std::int32_t* const y = b + w * bPlane;
        if (c == nullptr) {
            for (std::int32_t m = 0; m < count; m += Vec::kLanes)
                Vec::store(o + m, Vec::add(Vec::load(x + m), Vec::load(y + m)));
            continue;
        }
        const std::int32_t* const z = c + w * cPlane;
        for (std::int32_t m = 0; m < count; m += Vec::kLanes)
            Vec::store(o + m, Vec::sub(Vec::add(Vec::load(x + m), Vec::load(y + m)), Vec::load(z + m)));
    }
}

// Every kernel with Vec's lanes.
template <typename Vec>
BandRowKernels rowKernelsWith() {
    return {sumFourRunsWith<Vec>,
            storeSampleRowWith<Vec>,
            tagProductsWith<Vec, false, false>,
            tagProductsWith<Vec, true, false>,
            tagProductsWith<Vec, false, true>,
            tagProductsWith<Vec, true, true>,
            tagRowWith<Vec>,
            eightSumsWith<Vec>,
            combinePlanesWith<Vec>};
}

}  // namespace
}  // namespace crest

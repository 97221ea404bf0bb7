// The inner loops of the window statistics, compiled once per instruction
// set: a row sum (four shifted rows added word by word), a row of sample
// records (stored, added or subtracted) and the eight-entry sums of the
// window planes. Integer arithmetic, so every set gives the same words;
// engineKernels (engine_kernels.h) picks the set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/moment_record.h"
#include "engine/tagged_pixel.h"

namespace crest {

using SampleRowKernel = std::int32_t (*)(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4],
                                         std::int32_t* out, std::ptrdiff_t plane, std::int32_t count);
// The products of `count` samples from rows of their tags: entry i of
// tags[j] is neighbour j's tag of sample i, of tags[4] its own. With a
// difference, less those of `leaving`; stored in, or added to,
// out[w * plane + i].
using TagProductsKernel = void (*)(const std::int32_t* const (&tags)[5], const std::int32_t* const (&leaving)[5],
                                   std::int32_t* out, std::ptrdiff_t plane, std::int32_t count);

struct BandRowKernels {
    // The most lanes any kernel's vectors have.
    static constexpr std::int32_t kMaxLanes = 16;

    // out[w] = a[w] + b[w] + c[w] + d[w] for w < words.
    void (*sumFourRuns)(std::int32_t* out, const std::int32_t* a, const std::int32_t* b, const std::int32_t* c,
                        const std::int32_t* d, std::ptrdiff_t words);
    // The level-0 records of up to `count` samples, every second pixel from
    // `sample`, whose training neighbours lie `train[j]` bytes away: word w
    // of sample i to out[w * plane + i]. Does whole vectors only and returns
    // how many samples it did; the caller does the rest.
    SampleRowKernel sampleRow;
    // Tag products stored, added, their difference stored, or added.
    TagProductsKernel storeTagProducts;
    TagProductsKernel addTagProducts;
    TagProductsKernel differenceTagProducts;
    TagProductsKernel addDifferenceTagProducts;
    // out[i] = the tag of the pixel 8 * i bytes from `first`, i < count.
    void (*tagRow)(const std::uint8_t* first, std::int32_t* out, std::int32_t count);
    // For each of the 14 planes, out[w * outPlane + m] = (or +=, when
    // accumulating) in[w * inPlane + m] + .. + in[w * inPlane + m + 7] for
    // m < count; `in` (count + 7 entries a plane, then kMaxLanes of room) is
    // overwritten.
    void (*eightSums)(std::int32_t* in, std::ptrdiff_t inPlane, std::int32_t* out, std::ptrdiff_t outPlane,
                      std::int32_t count, bool accumulate);
    // out = a + b (- c, unless c is null), 14 planes of `count` entries, each
    // operand with its own plane stride and room for kMaxLanes - 1 entries
    // beyond `count` (out's get unspecified values); out may be a, or a
    // shifted forward.
    void (*combinePlanes)(std::int32_t* out, std::ptrdiff_t outPlane, const std::int32_t* a, std::ptrdiff_t aPlane,
                          const std::int32_t* b, std::ptrdiff_t bPlane, const std::int32_t* c, std::ptrdiff_t cPlane,
                          std::int32_t count);
};

// The level-0 record of one sample, for what the kernels leave of a row.
inline MomentRecord sampleRecordAt(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4]) {
    MomentRecord record;
    fillSampleRecord(record, static_cast<std::int32_t>(lumaTag(loadPixel(sample + train[0]))),
                     static_cast<std::int32_t>(lumaTag(loadPixel(sample + train[1]))),
                     static_cast<std::int32_t>(lumaTag(loadPixel(sample + train[2]))),
                     static_cast<std::int32_t>(lumaTag(loadPixel(sample + train[3]))),
                     static_cast<std::int32_t>(lumaTag(loadPixel(sample))));
    return record;
}

}  // namespace crest

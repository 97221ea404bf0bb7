// The two inner loops of the statistics bands, compiled once per instruction
// set: a row sum (four shifted rows added word by word) and a row of sample
// records. Integer arithmetic, so every set gives the same words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crest {

struct BandRowKernels {
    // out[w] = a[w] + b[w] + c[w] + d[w] for w < words.
    void (*sumFourRuns)(std::int32_t* out, const std::int32_t* a, const std::int32_t* b, const std::int32_t* c,
                        const std::int32_t* d, std::ptrdiff_t words);
    // The level-0 records of up to `count` samples, every second pixel from
    // `sample`, whose training neighbours lie `train[j]` bytes away: word w
    // of sample i to out[w * plane + i]. Does whole vectors only and returns
    // how many samples it did; the caller does the rest.
    std::int32_t (*sampleRow)(const std::uint8_t* sample, const std::ptrdiff_t (&train)[4], std::int32_t* out,
                              std::ptrdiff_t plane, std::int32_t count);
};

// The widest kernels the processor has, within limitSolveInstructions'
// limit (cpuid is read once); the bands take them once per pass.
BandRowKernels bandRowKernels();

}  // namespace crest

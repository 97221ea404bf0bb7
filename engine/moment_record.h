// Second-moment sums over training samples, and the blocks that hold them.
#pragma once

#include <cstdint>

namespace crest {

// Words 0-9: the upper triangle of the neighbour-product matrix, row by row
// (n0n0, n1n0, n2n0, n3n0, n1n1, n2n1, n3n1, n2n2, n3n2, n3n3).
// Words 10-13: the clamped centre times each neighbour.
// A 64-sample sum is at most 64 * 255 * 255 = 4,161,600, so int32 never overflows.
struct MomentRecord {
    static constexpr int kWords = 14;
    std::int32_t word[kWords];
};

inline void copyRecord(MomentRecord& destination, const MomentRecord& source) {
    for (int i = 0; i < MomentRecord::kWords; ++i) destination.word[i] = source.word[i];
}

inline void addRecord(MomentRecord& destination, const MomentRecord& source) {
    for (int i = 0; i < MomentRecord::kWords; ++i) destination.word[i] += source.word[i];
}

// Sums four records in a fixed order: first copied, the rest added.
inline void sumFourRecords(MomentRecord& destination, const MomentRecord& first,
                           const MomentRecord& second, const MomentRecord& third,
                           const MomentRecord& fourth) {
    for (int i = 0; i < MomentRecord::kWords; ++i)
        destination.word[i] = first.word[i] + second.word[i] + third.word[i] + fourth.word[i];
}

// The level-0 products of one sample: neighbour tags n0..n3 and the centre
// tag, clamped into the neighbours' range.
inline void fillSampleRecord(MomentRecord& record, std::int32_t n0, std::int32_t n1, std::int32_t n2, std::int32_t n3,
                             std::int32_t centre) {
    const std::int32_t lo01 = n0 < n1 ? n0 : n1, lo23 = n2 < n3 ? n2 : n3;
    const std::int32_t hi01 = n0 < n1 ? n1 : n0, hi23 = n2 < n3 ? n3 : n2;
    const std::int32_t lo = lo01 < lo23 ? lo01 : lo23;
    const std::int32_t hi = hi01 < hi23 ? hi23 : hi01;
    const std::int32_t c = centre < lo ? lo : (hi < centre ? hi : centre);
    std::int32_t* w = record.word;
    w[0] = n0 * n0;
    w[1] = n1 * n0;
    w[2] = n2 * n0;
    w[3] = n3 * n0;
    w[4] = n1 * n1;
    w[5] = n2 * n1;
    w[6] = n3 * n1;
    w[7] = n2 * n2;
    w[8] = n3 * n2;
    w[9] = n3 * n3;
    w[10] = c * n0;
    w[11] = c * n1;
    w[12] = c * n2;
    w[13] = c * n3;
}

// One node of the pool's circular block list. Records are left uninitialised:
// whoever takes one writes all of it before anything reads it.
struct MomentBlock {
    static constexpr int kRecords = 1024;
    MomentBlock* next;
    MomentBlock* prev;
    MomentRecord records[kRecords];
};

}  // namespace crest

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

// One node of the pool's circular block list. Records are left uninitialised:
// whoever takes one writes all of it before anything reads it.
struct MomentBlock {
    static constexpr int kRecords = 1024;
    MomentBlock* next;
    MomentBlock* prev;
    MomentRecord records[kRecords];
};

}  // namespace crest

// The pyramid's interior path with the pass's constants held in locals.
//
// Records are int32 words like most of EnlargerState, so a store to a record
// would oblige the compiler to reload every state field it has read. The
// walker copies what the interior path needs (cache tables, the pool cursor,
// cell steps and byte offsets) once per pass; its fields never escape, so
// they stay in registers. Records are taken in the same order as by the
// state's own functions, and the cursor is written back before anything else
// touches the pool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/enlarger_state.h"
#include "engine/moment_record.h"
#include "engine/positions.h"
#include "engine/tagged_pixel.h"

namespace crest {

// Moves the state to its next block and returns that block's first record.
MomentRecord* takeRecordFromNextBlock(EnlargerState& state);

class InteriorWalker {
public:
    // The state's direction tables must be set for the pass.
    explicit InteriorWalker(EnlargerState& state) : state_(state) {
        for (int level = 0; level < EnlargerState::kLevelCount; ++level)
            cache_[level] = state.levelCache[level].entries;
        for (int j = 0; j < 4; ++j) {
            offset_[j] = state.trainOffset[j] / 2;
            nodeStep_[0][j] = 0;
            nodeStep_[1][j] = state.levelStep[1][j];
            nodeStep_[2][j] = state.levelStep[2][j];
            // A one-column move changes x >> 1 by an amount set by x's parity.
            const bool movesColumn = (static_cast<std::uint32_t>(state.dirPacked[j]) & 0xFFFFu) != 0;
            sampleStep_[0][j] = state.levelStep[0][j];
            sampleStep_[1][j] = state.levelStep[0][j] + (movesColumn ? 1 : 0);
        }
        loadCursor();
        // The lowest and highest rows each level's window nodes occupy, and
        // the furthest cell to the right: the front a pass moves into.
        for (int level = 0; level < EnlargerState::kLevelCount; ++level) {
            std::int32_t lowest = 0, highest = 0, right = 0;
            for (int n = 0; n < 64; ++n) {
                std::int32_t dx = 0, dy = 0;
                for (int k = 2, digits = n; k >= level; --k, digits >>= 2) {
                    const PackedCoord d = state.dirPacked[digits & 3];
                    dx += static_cast<std::int16_t>(static_cast<std::uint32_t>(d) & 0xFFFFu) << k;
                    dy += (d >> 16) << k;
                }
                lowest = dy < lowest ? dy : lowest;
                highest = dy > highest ? dy : highest;
                right = dx > right ? dx : right;
            }
            frontRows_[level] = highest - lowest;
            frontFirst_[level] = lowest * state.halfWidth + (right >> 1) + 2;
        }
        halfWidth_ = state.halfWidth;
    }

    // Asks for the cache lines a target `ahead` cells to the right will read
    // first, so that their misses overlap with the work on this one.
    inline void prefetchFront(CellIndex cell, std::int32_t ahead) const {
        for (int level = 0; level < EnlargerState::kLevelCount; ++level) {
            const MomentRecord* const* first = cache_[level] + cell + ahead + frontFirst_[level];
            __builtin_prefetch(first + static_cast<std::ptrdiff_t>(frontRows_[level]) * halfWidth_);
        }
    }

    // Writes the pool cursor back; call before the state's own functions run.
    void storeCursor() const {
        if (state_.currentBlock == nullptr) return;
        state_.blockUsed = static_cast<std::int32_t>(next_ - state_.currentBlock->records);
    }
    // Picks the cursor up again after the state's own functions ran.
    void loadCursor() {
        if (state_.currentBlock == nullptr) {  // a detached state: no pool to walk
            next_ = end_ = nullptr;
            return;
        }
        next_ = state_.currentBlock->records + state_.blockUsed;
        end_ = state_.currentBlock->records + MomentBlock::kRecords;
    }

    // The 64-sample window of the target at `target` (destination address)
    // and `cell`, whose column has parity `parity`, summed into `window`.
    inline void windowSum(MomentRecord& window, CellIndex cell, const std::uint8_t* target, std::int32_t parity) {
        const std::int32_t* sampleStep = sampleStep_[parity];
        const MomentRecord* quarter[4];
        for (int j = 0; j < 4; ++j) {
            const CellIndex nodeCell = cell + nodeStep_[2][j];
            MomentRecord*& entry = cache_[2][nodeCell];
            if (entry == nullptr) {
                MomentRecord* record = take();
                entry = record;
                const std::uint8_t* node = target + 4 * offset_[j];
                const MomentRecord* child[4];
                for (int k = 0; k < 4; ++k)
                    child[k] = levelOne(nodeCell + nodeStep_[1][k], node + 2 * offset_[k], sampleStep);
                sumFourRecords(*record, *child[0], *child[1], *child[2], *child[3]);
            }
            quarter[j] = entry;
        }
        sumFourRecords(window, *quarter[0], *quarter[1], *quarter[2], *quarter[3]);
    }

private:
    inline MomentRecord* take() {
        if (next_ != end_) return next_++;
        storeCursor();
        MomentRecord* record = takeRecordFromNextBlock(state_);
        next_ = record + 1;
        end_ = record + MomentBlock::kRecords;
        return record;
    }

    inline const MomentRecord* levelOne(CellIndex cell, const std::uint8_t* node, const std::int32_t* sampleStep) {
        MomentRecord*& entry = cache_[1][cell];
        if (entry != nullptr) return entry;
        MomentRecord* record = take();
        entry = record;
        const MomentRecord* child[4];
        for (int j = 0; j < 4; ++j) {
            MomentRecord*& sample = cache_[0][cell + sampleStep[j]];
            if (sample == nullptr) sample = sampleRecord(node + offset_[j]);
            child[j] = sample;
        }
        sumFourRecords(*record, *child[0], *child[1], *child[2], *child[3]);
        return record;
    }

    // Same products as computeSampleRecord, at a destination address.
    inline MomentRecord* sampleRecord(const std::uint8_t* sample) {
        const std::int32_t n0 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + 2 * offset_[0])));
        const std::int32_t n1 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + 2 * offset_[1])));
        const std::int32_t n2 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + 2 * offset_[2])));
        const std::int32_t n3 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + 2 * offset_[3])));
        MomentRecord* record = take();
        fillSampleRecord(*record, n0, n1, n2, n3, static_cast<std::int32_t>(lumaTag(loadPixel(sample))));
        return record;
    }

    EnlargerState& state_;
    MomentRecord** cache_[EnlargerState::kLevelCount];
    MomentRecord* next_;
    MomentRecord* end_;
    std::ptrdiff_t offset_[4];
    std::int32_t nodeStep_[EnlargerState::kLevelCount][4];  // [0] unused: see sampleStep_
    std::int32_t sampleStep_[2][4];
    std::int32_t frontFirst_[EnlargerState::kLevelCount];
    std::int32_t frontRows_[EnlargerState::kLevelCount];
    std::int32_t halfWidth_;
};

}  // namespace crest

// Nulls the level caches row by row just ahead of a pass's front, instead of
// all at once before the pass: the rows are then still in the processor's
// caches when the pass first reads them, and a frame's tables are written
// once per pass rather than once and then again on first use.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/enlarger_state.h"

namespace crest {

// How far below its own row a target's window can reach in cache rows. The
// window's nodes lie 4 + 2 + 1 rows around the target at most; the clamped
// path moves a window whose centre is above the inner frame down to row 2 or
// 3, so a target in row 1 reaches row 3 + 7 = 10.
inline constexpr std::int32_t kWindowRowsBelow = 9;

class CacheRowClearer {
public:
    // Rows are destination rows: the caches hold `rows` x state.halfWidth entries.
    CacheRowClearer(const EnlargerState& state, std::int32_t rows) : rowLength_(state.halfWidth), rows_(rows) {
        for (int level = 0; level < EnlargerState::kLevelCount; ++level) entries_[level] = state.levelCache[level].entries;
    }

    // Makes sure that every cache row a target in row y can touch, and every
    // row above, has been nulled since the clearer was made.
    void readyForRow(std::int32_t y) {
        const std::int32_t needed = y + kWindowRowsBelow + 1;
        if (needed <= clearedRows_) return;
        // Whole bands, so each clearing is one long run of stores.
        const std::int32_t end = std::min(rows_, needed + kBandRows);
        const std::size_t first = static_cast<std::size_t>(clearedRows_) * static_cast<std::size_t>(rowLength_);
        const std::size_t count = static_cast<std::size_t>(end - clearedRows_) * static_cast<std::size_t>(rowLength_);
        for (MomentRecord** entries : entries_) std::fill_n(entries + first, count, nullptr);
        clearedRows_ = end;
    }

private:
    static constexpr std::int32_t kBandRows = 8;
    MomentRecord** entries_[EnlargerState::kLevelCount];
    std::int32_t rowLength_;
    std::int32_t rows_;
    std::int32_t clearedRows_ = 0;
};

}  // namespace crest

// Moment sums of 64-sample training windows, memoised as a four-level pyramid.
//
// A level-k record (k = 1..3) of a position sums the four level-(k-1) records
// at that position moved 2^(k-1) steps in each of the pass's directions; a
// level-0 record holds one sample's products. Levels 0-2 are memoised per
// pass in the state's level caches, keyed by CellIndex.
#pragma once

#include <cstdint>

#include "engine/enlarger_state.h"

namespace crest {

// Pyramid level of a whole training window.
inline constexpr std::int32_t kWindowLevel = 3;

// Fast path for targets with 16 <= x < W - 20 and 16 <= y < H - 20, whose
// whole window lies inside the inner frame: no range tests, no clamping. The
// result is the state's windowSum, overwritten by the next call.
MomentRecord* interiorWindowSum(EnlargerState& state, CellIndex cell, PackedCoord packed);

// General path: positions outside the inner frame are clamped onto it,
// keeping their parity. At level 3 the record is a fresh pool record.
MomentRecord* clampedLevelRecord(EnlargerState& state, CellIndex cell, PackedCoord packed, std::int32_t level);

// A level-1 node whose four samples lie inside the inner frame.
MomentRecord* levelOneRecord(EnlargerState& state, CellIndex cell, PackedCoord packed);

// A sample inside the inner frame.
MomentRecord* levelZeroRecord(EnlargerState& state, CellIndex cell, PackedCoord packed);

// The level-0 products of the sample at inner coordinates (u, v), in a fresh
// pool record. The centre tag is clamped into its neighbours' range.
MomentRecord* computeSampleRecord(EnlargerState& state, std::int32_t u, std::int32_t v);

}  // namespace crest

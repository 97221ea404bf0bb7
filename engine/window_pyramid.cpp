#include "engine/window_pyramid.h"

#include <algorithm>
#include <cstddef>

#include "engine/tagged_pixel.h"

namespace crest {

namespace {

// The column step of a packed direction delta: its low half, sign-extended.
std::int32_t stepX(PackedCoord delta) { return static_cast<std::int16_t>(static_cast<std::uint32_t>(delta) & 0xFFFFu); }

// The packed delta of 2^level steps.
PackedCoord scaledStep(PackedCoord delta, std::int32_t level) {
    return static_cast<PackedCoord>(static_cast<std::uint32_t>(delta) << level);
}

// The CellIndex of a sample next to a level-1 node in column x. A one-column
// move changes x >> 1 by an amount that depends on x's parity, so it cannot
// come from a fixed table entry; levelStep[0][j] holds the change for an even x.
CellIndex sampleCell(const EnlargerState& state, CellIndex nodeCell, std::int32_t nodeX, int direction) {
    const std::int32_t oddColumnCorrection = stepX(state.dirPacked[direction]) != 0 ? (nodeX & 1) : 0;
    return nodeCell + state.levelStep[0][direction] + oddColumnCorrection;
}

std::int32_t clampCoordinate(std::int32_t t, std::int32_t limit) {
    if (t < 0) return t & 1;
    if (t >= limit) return limit - 2 + (t & 1);
    return t;
}

}  // namespace

MomentRecord* computeSampleRecord(EnlargerState& state, std::int32_t u, std::int32_t v) {
    const std::uint8_t* sample =
        state.origin + static_cast<std::ptrdiff_t>(v) * state.pitch + 4 * static_cast<std::ptrdiff_t>(u);
    const std::int32_t n0 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + state.trainOffset[0])));
    const std::int32_t n1 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + state.trainOffset[1])));
    const std::int32_t n2 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + state.trainOffset[2])));
    const std::int32_t n3 = static_cast<std::int32_t>(lumaTag(loadPixel(sample + state.trainOffset[3])));
    const std::int32_t centre = static_cast<std::int32_t>(lumaTag(loadPixel(sample)));
    MomentRecord* record = state.takeRecord();
    fillSampleRecord(*record, n0, n1, n2, n3, centre);
    return record;
}

MomentRecord* levelZeroRecord(EnlargerState& state, CellIndex cell, PackedCoord packed) {
    MomentRecord*& entry = state.levelCache[0].entries[cell];
    if (entry == nullptr) entry = computeSampleRecord(state, unpackU(packed), unpackV(packed));
    return entry;
}

MomentRecord* levelOneRecord(EnlargerState& state, CellIndex cell, PackedCoord packed) {
    MomentRecord*& entry = state.levelCache[1].entries[cell];
    if (entry != nullptr) return entry;
    MomentRecord* record = state.takeRecord();
    entry = record;
    const std::int32_t x = unpackU(packed) + 2;
    MomentRecord* child[4];
    for (int j = 0; j < 4; ++j)
        child[j] = levelZeroRecord(state, sampleCell(state, cell, x, j), packedAdd(packed, state.dirPacked[j]));
    sumFourRecords(*record, *child[0], *child[1], *child[2], *child[3]);
    return record;
}

MomentRecord* interiorWindowSum(EnlargerState& state, CellIndex cell, PackedCoord packed) {
    const MomentRecord* quarter[4];
    for (int j = 0; j < 4; ++j) {
        const CellIndex nodeCell = cell + state.levelStep[2][j];
        MomentRecord*& entry = state.levelCache[2].entries[nodeCell];
        if (entry == nullptr) {
            MomentRecord* record = state.takeRecord();
            entry = record;
            const PackedCoord node = packedAdd(packed, scaledStep(state.dirPacked[j], 2));
            const MomentRecord* child[4];
            for (int k = 0; k < 4; ++k)
                child[k] = levelOneRecord(state, nodeCell + state.levelStep[1][k],
                                          packedAdd(node, scaledStep(state.dirPacked[k], 1)));
            sumFourRecords(*record, *child[0], *child[1], *child[2], *child[3]);
        }
        quarter[j] = entry;
    }
    sumFourRecords(state.windowSum, *quarter[0], *quarter[1], *quarter[2], *quarter[3]);
    return &state.windowSum;
}

MomentRecord* clampedLevelRecord(EnlargerState& state, CellIndex cell, PackedCoord packed, std::int32_t level) {
    std::int32_t u = unpackU(packed);
    std::int32_t v = unpackV(packed);
    if (u < 0 || u >= state.innerWidth || v < 0 || v >= state.innerHeight) {
        u = clampCoordinate(u, state.innerWidth);
        v = clampCoordinate(v, state.innerHeight);
        cell = cellIndexOf(u + 2, v + 2, state.halfWidth);
        packed = packInner(u, v);
    }
    if (level < kWindowLevel) {
        MomentRecord* cached = state.levelCache[level].entries[cell];
        if (cached != nullptr) return cached;
    }
    if (level == 0) {
        MomentRecord* record = computeSampleRecord(state, u, v);
        state.levelCache[0].entries[cell] = record;
        return record;
    }
    MomentRecord* record = state.takeRecord();
    if (level < kWindowLevel) state.levelCache[level].entries[cell] = record;
    const std::int32_t childLevel = level - 1;
    MomentRecord* child[4];
    for (int j = 0; j < 4; ++j) {
        const CellIndex childCell =
            childLevel == 0 ? sampleCell(state, cell, u + 2, j) : cell + state.levelStep[childLevel][j];
        child[j] = clampedLevelRecord(state, childCell, packedAdd(packed, scaledStep(state.dirPacked[j], childLevel)),
                                      childLevel);
    }
    sumFourRecords(*record, *child[0], *child[1], *child[2], *child[3]);
    return record;
}

}  // namespace crest

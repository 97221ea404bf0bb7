// Position encodings shared by the passes and the statistics pyramid.
#pragma once

#include <cstdint>

namespace crest {

// Cache slot of destination position (x, y): columns 2m and 2m+1 share a slot.
using CellIndex = std::int32_t;

constexpr CellIndex cellIndexOf(std::int32_t x, std::int32_t y, std::int32_t halfWidth) {
    return y * halfWidth + (x >> 1);
}

// A position relative to destination pixel (2, 2), each coordinate biased by
// 0x4000: low half u + 0x4000, high half v + 0x4000. A step in direction j is
// one addition of the pass's packed delta. Exact while -0x4000 <= u < 0xC000
// and -0x4000 <= v < 0x4000, which bounds the destination at 49,152 columns
// and 16,384 rows.
using PackedCoord = std::int32_t;

constexpr std::int32_t kPackedBias = 0x4000;
constexpr std::int32_t kMaxDestinationWidth = 49152;
constexpr std::int32_t kMaxDestinationHeight = 16384;

constexpr PackedCoord packInner(std::int32_t u, std::int32_t v) {
    return static_cast<PackedCoord>(static_cast<std::uint32_t>(v + kPackedBias) * 65536u +
                                    static_cast<std::uint32_t>(u + kPackedBias));
}

constexpr PackedCoord packedCoordOf(std::int32_t x, std::int32_t y) { return packInner(x - 2, y - 2); }

constexpr std::int32_t unpackU(PackedCoord packed) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(packed) & 0xFFFFu) - kPackedBias;
}

constexpr std::int32_t unpackV(PackedCoord packed) { return (packed >> 16) - kPackedBias; }

// The packed delta of a step (dx, dy), in two's-complement 32-bit arithmetic.
constexpr PackedCoord packedStep(std::int32_t dx, std::int32_t dy) {
    return static_cast<PackedCoord>(static_cast<std::uint32_t>(dy) * 65536u + static_cast<std::uint32_t>(dx));
}

// Adds packed words with wrap-around, as the hardware does; the fields are kept
// inside their ranges by the geometry limits above.
constexpr PackedCoord packedAdd(PackedCoord a, PackedCoord b) {
    return static_cast<PackedCoord>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// Byte offsets from a target pixel to its four neighbours. The entry order is
// the direction index j of every direction table, record word and weight.
struct NeighborSet {
    std::int32_t offset[4];
};

// Diagonal pass: (-1,-1), (-1,+1), (+1,+1), (+1,-1).
constexpr NeighborSet diagonalNeighbors(std::int32_t pitch) {
    return NeighborSet{{-pitch - 4, pitch - 4, pitch + 4, 4 - pitch}};
}

// Axial pass: (0,-1), (-1,0), (0,+1), (+1,0).
constexpr NeighborSet axialNeighbors(std::int32_t pitch) { return NeighborSet{{-pitch, -4, pitch, 4}}; }

struct DirectionStep {
    std::int32_t dx;
    std::int32_t dy;
};

// The unit step a neighbour offset stands for: the row count rounded to the
// nearest whole row (an exact half away from zero), then the leftover bytes
// in whole pixels. Rounding uses the pitch's magnitude so that bottom-up
// bitmaps (negative pitch) give the same steps as top-down ones.
constexpr DirectionStep directionStepOf(std::int32_t offset, std::int32_t pitch) {
    const std::int64_t halfRow = (pitch < 0 ? -static_cast<std::int64_t>(pitch) : pitch) >> 1;
    const std::int64_t rounded = offset >= 0 ? offset + halfRow : offset - halfRow;
    const std::int64_t dy = rounded / pitch;
    const std::int64_t dx = (offset - dy * pitch) >> 2;
    return DirectionStep{static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy)};
}

}  // namespace crest

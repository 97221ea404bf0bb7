#include "engine/interpolate_pass.h"

#include <cstddef>

#include "engine/edge_estimate.h"
#include "engine/interior_walker.h"
#include "engine/tagged_pixel.h"
#include "engine/window_pyramid.h"

namespace crest {

TaggedPixel smoothFill(TaggedPixel n0, TaggedPixel n1, TaggedPixel n2, TaggedPixel n3) {
    return tagPixel(averagePixels(averagePixels(n0, n1), averagePixels(n2, n3)));
}

void setPassDirections(EnlargerState& state, const NeighborSet& neighbors) {
    for (int j = 0; j < 4; ++j) {
        const DirectionStep step = directionStepOf(neighbors.offset[j], state.pitch);
        for (int k = 0; k < 4; ++k)
            state.levelStep[k][j] = step.dy * (1 << k) * state.halfWidth + ((step.dx * (1 << k)) >> 1);
        state.dirPacked[j] = packedStep(step.dx, step.dy);
        state.trainOffset[j] = 2 * neighbors.offset[j];
    }
}

void interpolatePass(EnlargerState& state, std::uint8_t* base, std::int32_t pitch, std::int32_t startX,
                     std::int32_t startY, std::int32_t endX, std::int32_t endY, const NeighborSet& neighbors,
                     bool axial) {
    setPassDirections(state, neighbors);
    // Without at least two inner rows and columns the border clamp has nowhere
    // to land, so such small frames are smooth-filled throughout.
    const bool canEstimate = state.innerWidth >= 2 && state.innerHeight >= 2;
    const std::int32_t rowStep = axial ? 1 : 2;
    const std::int32_t interiorEndX = state.innerWidth - 16;
    const std::int32_t interiorEndY = state.innerHeight - 16;

    InteriorWalker walker(state);
    MomentRecord window;
    std::int32_t firstColumn = startX;
    for (std::int32_t y = startY; y < endY; y += rowStep) {
        std::uint8_t* row = base + static_cast<std::ptrdiff_t>(y) * pitch;
        const bool interiorRow = y >= 16 && y < interiorEndY;
        const CellIndex rowCell = cellIndexOf(0, y, state.halfWidth);
        for (std::int32_t x = firstColumn; x < endX; x += 2) {
            std::uint8_t* target = row + 4 * static_cast<std::ptrdiff_t>(x);
            const TaggedPixel n0 = loadPixel(target + neighbors.offset[0]);
            const TaggedPixel n1 = loadPixel(target + neighbors.offset[1]);
            const TaggedPixel n2 = loadPixel(target + neighbors.offset[2]);
            const TaggedPixel n3 = loadPixel(target + neighbors.offset[3]);
            const std::int32_t activity = tagActivity(static_cast<std::int32_t>(lumaTag(n0)), static_cast<std::int32_t>(lumaTag(n1)),
                                                      static_cast<std::int32_t>(lumaTag(n2)), static_cast<std::int32_t>(lumaTag(n3)));
            if (activity < kActivityThreshold || !canEstimate) {
                storePixel(target, smoothFill(n0, n1, n2, n3));
                continue;
            }
            const CellIndex cell = rowCell + (x >> 1);
            if (interiorRow && x >= 16 && x < interiorEndX) {
                walker.prefetchFront(cell, 8);
                walker.windowSum(window, cell, target, x & 1);
                storePixel(target, estimateEdgePixel(window, n0, n1, n2, n3));
                continue;
            }
            walker.storeCursor();
            const MomentRecord* border = clampedLevelRecord(state, cell, packedCoordOf(x, y), kWindowLevel);
            walker.loadCursor();
            storePixel(target, estimateEdgePixel(*border, n0, n1, n2, n3));
        }
        if (axial) firstColumn = 3 - firstColumn;
    }
    walker.storeCursor();
}

}  // namespace crest

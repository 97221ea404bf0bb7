#include "engine/frame_driver.h"

#include <emmintrin.h>

#include <cstddef>
#include <new>

#include "engine/four_pixels.h"
#include "engine/interpolate_pass.h"
#include "engine/positions.h"
#include "engine/tagged_pixel.h"

namespace crest {

namespace {

std::uint64_t magnitude(std::int64_t value) {
    return value < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Pixel addressing for one bitmap; the pitch may be negative.
struct PixelGrid {
    std::uint8_t* base;
    std::int32_t pitch;

    std::uint8_t* at(std::int32_t x, std::int32_t y) const {
        return base + static_cast<std::ptrdiff_t>(y) * pitch + 4 * static_cast<std::ptrdiff_t>(x);
    }
    TaggedPixel get(std::int32_t x, std::int32_t y) const { return loadPixel(at(x, y)); }
    void set(std::int32_t x, std::int32_t y, TaggedPixel pixel) const { storePixel(at(x, y), pixel); }
};

// Four source pixels a step. Each tagged pixel is written twice, to its
// lattice position and the odd column after it: every such pixel is an axial
// target or on the border, overwritten before anything reads it, and two
// whole-vector stores are cheaper than four single pixels.
void seedLattice(const PixelGrid& destination, const PixelGrid& source, std::int32_t sourceWidth,
                 std::int32_t sourceHeight) {
    for (std::int32_t y = 0; y < sourceHeight; ++y) {
        const std::uint8_t* from = source.at(0, y);
        std::uint8_t* to = destination.at(0, 2 * y);
        std::int32_t x = 0;
        for (; x + 4 <= sourceWidth; x += 4, from += 16, to += 32) {
            const __m128i tags = four::tagFour(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_unpacklo_epi32(tags, tags));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), _mm_unpackhi_epi32(tags, tags));
        }
        for (; x < sourceWidth; ++x) destination.set(2 * x, 2 * y, tagPixel(source.get(x, y)));
    }
}

// Row `lattice` holds seeded pixels at even columns: fills its odd columns
// with neighbour averages, makes row `copy` equal to it, and ends both rows
// with copies of the last lattice pixel.
void fillRowPair(const PixelGrid& grid, std::int32_t width, std::int32_t lattice, std::int32_t copy) {
    for (std::int32_t x = 0; x < width - 2; x += 2) {
        const TaggedPixel left = grid.get(x, lattice);
        const TaggedPixel between = averagePixels(left, grid.get(x + 2, lattice));
        grid.set(x, copy, left);
        grid.set(x + 1, lattice, between);
        grid.set(x + 1, copy, between);
    }
    const TaggedPixel last = grid.get(width - 2, lattice);
    grid.set(width - 2, copy, last);
    grid.set(width - 1, lattice, last);
    grid.set(width - 1, copy, last);
}

void fillSideColumns(const PixelGrid& grid, std::int32_t width, std::int32_t height) {
    for (std::int32_t y = 0; y + 4 <= height; y += 2) {
        grid.set(width - 1, y, grid.get(width - 2, y));
        grid.set(0, y + 1, averagePixels(grid.get(0, y), grid.get(0, y + 2)));
        const TaggedPixel right = averagePixels(grid.get(width - 2, y), grid.get(width - 2, y + 2));
        grid.set(width - 2, y + 1, right);
        grid.set(width - 1, y + 1, right);
    }
}

void prepareFrameGeometry(EnlargerState& state, std::uint8_t* destinationPixels, std::int32_t width,
                          std::int32_t height, std::int32_t pitch) {
    state.halfWidth = width >> 1;
    state.pitch = pitch;
    state.innerWidth = width - 4;
    state.innerHeight = height - 4;
    state.origin = PixelGrid{destinationPixels, pitch}.at(2, 2);
}

}  // namespace

void prepareFrameState(EnlargerState& state, std::uint8_t* destinationPixels, std::int32_t width, std::int32_t height,
                       std::int32_t pitch) {
    prepareFrameGeometry(state, destinationPixels, width, height, pitch);
    state.rewindPool();
    state.prepareCaches((height * width) >> 1);
}

bool frameGeometryIsValid(const FrameView& destination, const ConstFrameView& source) {
    const std::int64_t width = destination.width;
    const std::int64_t height = destination.height;
    if (source.width < 1 || source.height < 1) return false;
    if (width != 2 * static_cast<std::int64_t>(source.width) || height != 2 * static_cast<std::int64_t>(source.height))
        return false;
    // Beyond these the packed coordinates' fields would carry into each other.
    if (width > kMaxDestinationWidth || height > kMaxDestinationHeight) return false;
    if (width * height >= (std::int64_t{1} << 31)) return false;
    if (destination.pixels == nullptr || source.pixels == nullptr) return false;
    if (magnitude(destination.stride) < static_cast<std::uint64_t>(4 * width) ||
        magnitude(source.stride) < 4 * static_cast<std::uint64_t>(source.width))
        return false;
    return magnitude(destination.stride) <= kMaxPitchBytes && magnitude(source.stride) <= kMaxPitchBytes;
}

std::int32_t enlargeFrame(EnlargerState& state, const FrameView& destination, const ConstFrameView& source) {
    return enlargeFrame(state, destination, source, widestEngineKernels());
}

std::int32_t enlargeFrameWithoutPool(EnlargerState& state, const FrameView& destinationView,
                                     const ConstFrameView& sourceView, const EngineKernels& kernels) {
    if (!frameGeometryIsValid(destinationView, sourceView))
        return static_cast<std::int32_t>(EnlargeStatus::invalidGeometry);

    const std::int32_t width = destinationView.width;
    const std::int32_t height = destinationView.height;
    const std::int32_t pitch = static_cast<std::int32_t>(destinationView.stride);
    const PixelGrid destination{destinationView.pixels, pitch};
    // The source is only read.
    const PixelGrid source{const_cast<std::uint8_t*>(sourceView.pixels), static_cast<std::int32_t>(sourceView.stride)};

    try {
        prepareFrameGeometry(state, destination.base, width, height, pitch);

        seedLattice(destination, source, sourceView.width, sourceView.height);
        fillRowPair(destination, width, 0, 1);
        fillRowPair(destination, width, height - 2, height - 1);
        fillSideColumns(destination, width, height);

        interpolatePass(state, destination.base, pitch, 1, 1, width - 1, height - 1,
                        diagonalNeighbors(pitch), false, kernels);
        interpolatePass(state, destination.base, pitch, 2, 1, width - 1, height - 1,
                        axialNeighbors(pitch), true, kernels);
    } catch (const std::bad_alloc&) {
        return static_cast<std::int32_t>(EnlargeStatus::outOfMemory);
    }
    return static_cast<std::int32_t>(EnlargeStatus::ok);
}

std::int32_t enlargeFrame(EnlargerState& state, const FrameView& destination, const ConstFrameView& source,
                          const EngineKernels& kernels) {
    if (!frameGeometryIsValid(destination, source)) return static_cast<std::int32_t>(EnlargeStatus::invalidGeometry);
    if (!state.hasPool()) return static_cast<std::int32_t>(EnlargeStatus::outOfMemory);
    // The passes take no record; the pool is left rewound for the pyramid's operations.
    state.rewindPool();
    return enlargeFrameWithoutPool(state, destination, source, kernels);
}

}  // namespace crest

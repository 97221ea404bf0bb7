#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "engine/enlarger.h"
#include "tests/support/frame_helpers.h"
#include "tests/support/test_allocator.h"

namespace crest {
namespace {

using pictures::Content;
using pictures::makePicture;

TEST(FrameDriver, OnePixelBecomesFourTaggedCopies) {
    pictures::Picture picture = makePicture(Content::flat, 1, 1);
    picture.pixels[0] = 0xAB123456;
    const auto frame = testing::enlarge(picture);
    ASSERT_EQ(frame.result, 0);
    for (std::uint32_t pixel : frame.pixels) EXPECT_EQ(pixel, tagPixel(0x00123456));
}

TEST(FrameDriver, OnePixelWideSourceGivesTwoEqualColumns) {
    const auto picture = makePicture(Content::noise, 1, 9, 4);
    const auto frame = testing::enlarge(picture);
    ASSERT_EQ(frame.result, 0);
    for (int y = 0; y < frame.height; ++y) {
        EXPECT_EQ(frame.at(0, y), frame.at(1, y)) << y;
        if (y % 2 == 0) EXPECT_EQ(frame.at(0, y), tagPixel(picture.at(0, y / 2)));
        else if (y < frame.height - 1) EXPECT_EQ(frame.at(0, y), averagePixels(frame.at(0, y - 1), frame.at(0, y + 1)));
        else EXPECT_EQ(frame.at(0, y), frame.at(0, y - 1));
    }
}

TEST(FrameDriver, OnePixelTallSourceGivesTwoEqualRows) {
    const auto picture = makePicture(Content::noise, 9, 1, 5);
    const auto frame = testing::enlarge(picture);
    ASSERT_EQ(frame.result, 0);
    for (int x = 0; x < frame.width; ++x) {
        EXPECT_EQ(frame.at(x, 0), frame.at(x, 1)) << x;
        if (x % 2 == 0) EXPECT_EQ(frame.at(x, 0), tagPixel(picture.at(x / 2, 0)));
        else if (x < frame.width - 1) EXPECT_EQ(frame.at(x, 0), averagePixels(frame.at(x - 1, 0), frame.at(x + 1, 0)));
        else EXPECT_EQ(frame.at(x, 0), frame.at(x - 1, 0));
    }
}

struct GeometryCase {
    const char* name;
    std::int32_t sourceWidth, sourceHeight;
    std::ptrdiff_t sourcePitch;
    std::int32_t destinationWidth, destinationHeight;
    std::ptrdiff_t destinationPitch;
    bool nullSourcePixels;
};

// Buffers are untouched sentinels: an invalid frame must read and write none.
TEST(FrameDriver, RejectsGeometryItCannotHold) {
    const GeometryCase cases[] = {
        {"empty source", 0, 5, 0, 0, 10, 0, false},
        {"zero-height source", 5, 0, 20, 10, 0, 40, false},
        {"destination too narrow", 5, 5, 20, 9, 10, 40, false},
        {"destination too tall", 5, 5, 20, 10, 12, 40, false},
        {"destination not doubled", 5, 5, 20, 5, 5, 20, false},
        {"source pitch below a row", 5, 5, 16, 10, 10, 40, false},
        {"destination pitch below a row", 5, 5, 20, 10, 10, 36, false},
        {"negative pitch below a row", 5, 5, -16, 10, 10, 40, false},
        {"wider than packed columns hold", 24577, 1, 24577 * 4, 49154, 2, 49154 * 4, false},
        {"taller than packed rows hold", 1, 8193, 4, 2, 16386, 8, false},
        {"no source pixels", 5, 5, 20, 10, 10, 40, true},
        {"negative width", -3, 5, 20, -6, 10, 40, false},
        {"absurd pitch", 5, 5, 20, 10, 10, 0x7FFFFFF0, false},
        {"source pitch just beyond the limit", 5, 5, std::ptrdiff_t{kMaxPitchBytes} + 4, 10, 10, 40, false},
        {"largest pitch", 5, 5, PTRDIFF_MAX, 10, 10, 40, false},
        {"most negative pitch", 5, 5, PTRDIFF_MIN, 10, 10, 40, false},
    };
    for (const GeometryCase& c : cases) {
        std::vector<std::uint32_t> sourceData(64, 0x5A5A5A5A), destinationData(64, 0xA5A5A5A5);
        const ConstFrameView source{
            c.nullSourcePixels ? nullptr : reinterpret_cast<const std::uint8_t*>(sourceData.data()), c.sourceWidth,
            c.sourceHeight, c.sourcePitch};
        const FrameView destination{reinterpret_cast<std::uint8_t*>(destinationData.data()), c.destinationWidth,
                                    c.destinationHeight, c.destinationPitch};
        EnlargerState state;
        EXPECT_EQ(enlargeFrame(state, destination, source), static_cast<std::int32_t>(EnlargeStatus::invalidGeometry))
            << c.name;
        EXPECT_EQ(destinationData, std::vector<std::uint32_t>(64, 0xA5A5A5A5)) << c.name;
        EXPECT_EQ(state.blockCount, 0u) << c.name;
    }
}

TEST(FrameDriver, RecordsTheDestinationGeometry) {
    EnlargerState state;
    const auto frame = testing::enlarge(state, makePicture(Content::natural, 13, 7), {}, {12, false});
    ASSERT_EQ(frame.result, 0);
    EXPECT_EQ(state.halfWidth, 13);
    EXPECT_EQ(state.pitch, 26 * 4 + 12);
    EXPECT_EQ(state.innerWidth, 22);
    EXPECT_EQ(state.innerHeight, 10);
}

TEST(FrameDriver, PaddedAndBottomUpBitmapsGiveTheSameFrame) {
    for (const auto& size : {std::pair{40, 23}, std::pair{3, 3}, std::pair{2, 7}, std::pair{61, 44}}) {
        const auto picture = makePicture(Content::natural, size.first, size.second, 8);
        const auto plain = testing::enlarge(picture);
        ASSERT_EQ(plain.result, 0);
        const testing::BitmapLayout layouts[] = {{4, false}, {0, true}, {12, true}, {100, false}};
        for (const auto& sourceLayout : layouts)
            for (const auto& destinationLayout : layouts) {
                const auto other = testing::enlarge(picture, sourceLayout, destinationLayout);
                ASSERT_EQ(other.result, 0);
                EXPECT_EQ(other.pixels, plain.pixels)
                    << size.first << "x" << size.second << " source padding " << sourceLayout.rowPadding
                    << (sourceLayout.bottomUp ? " bottom-up" : "") << ", destination padding "
                    << destinationLayout.rowPadding << (destinationLayout.bottomUp ? " bottom-up" : "");
            }
    }
}

TEST(FrameDriver, ReportsRunningOutOfMemoryAndRecovers) {
    const auto picture = makePicture(Content::noise, 30, 20, 2);
    const auto expected = testing::enlarge(picture);
    testing::TestAllocator memory;
    EnlargerState state(memory.allocator());
    int failures = 0;
    // Fail the first, second, ... allocation of a first frame: the band storages.
    for (int n = 1;; ++n) {
        state.releaseCaches();
        state.releaseBlocks();
        memory.failFrom(n);
        const auto frame = testing::enlarge(state, picture);
        memory.failNone();
        if (frame.result == 0) break;
        ++failures;
        EXPECT_EQ(frame.result, static_cast<std::int32_t>(EnlargeStatus::outOfMemory)) << "failing allocation " << n;
        const auto retry = testing::enlarge(state, picture);
        EXPECT_EQ(retry.result, 0);
        EXPECT_EQ(retry.pixels, expected.pixels) << "after failing allocation " << n;
    }
    EXPECT_GE(failures, 3) << "the three band storages";
}

TEST(FrameDriver, StateWithoutPoolReportsFailure) {
    EnlargerState state(EnlargerState::Detached{}, systemAllocator());
    const auto frame = testing::enlarge(state, makePicture(Content::natural, 5, 5));
    EXPECT_EQ(frame.result, static_cast<std::int32_t>(EnlargeStatus::outOfMemory));
}

// The library's route: a state without a pool block gets enlargeFrame's
// frames, allocating only the three band storages, then nothing.
TEST(FrameDriver, RouteWithoutPoolGivesTheSameFramesAndTakesNoPoolBlock) {
    testing::TestAllocator memory;
    EnlargerState state(EnlargerState::Detached{}, memory.allocator());
    const struct {
        Content content;
        int width, height;
    } frames[] = {{Content::noise, 64, 48}, {Content::natural, 97, 61}, {Content::noise, 1, 1},
                  {Content::strokes, 3, 40}, {Content::natural, 300, 9}, {Content::noise, 64, 48}};
    int bandAllocations = -1;
    for (const auto& f : frames) {
        const auto picture = makePicture(f.content, f.width, f.height, 8);
        const auto frame = testing::enlargeWithoutPool(state, picture);
        ASSERT_EQ(frame.result, 0) << f.width << "x" << f.height;
        EXPECT_EQ(frame.pixels, testing::enlarge(picture).pixels) << f.width << "x" << f.height;
        if (bandAllocations < 0) bandAllocations = memory.allocations();
    }
    EXPECT_EQ(bandAllocations, 3) << "the three band storages, no pool block";
    EXPECT_FALSE(state.hasPool());
    const int allocations = memory.allocations();
    ASSERT_EQ(testing::enlargeWithoutPool(state, makePicture(Content::noise, 64, 48, 3)).result, 0);
    EXPECT_EQ(memory.allocations(), allocations);
}

TEST(FrameDriver, SteadyStateFramesAllocateNothing) {
    testing::TestAllocator memory;
    EnlargerState state(memory.allocator());
    // Noise makes nearly every target active, so its frame needs the most records.
    ASSERT_EQ(testing::enlarge(state, makePicture(Content::noise, 64, 48, 3)).result, 0);
    const int allocations = memory.allocations();
    ASSERT_EQ(testing::enlarge(state, makePicture(Content::noise, 64, 48, 3)).result, 0);
    ASSERT_EQ(testing::enlarge(state, makePicture(Content::natural, 64, 48, 4)).result, 0);
    ASSERT_EQ(testing::enlarge(state, makePicture(Content::natural, 60, 40, 4)).result, 0);
    EXPECT_EQ(memory.allocations(), allocations);
}

}  // namespace
}  // namespace crest

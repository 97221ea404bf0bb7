#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "tests/support/plain_frame.h"
#include "engine/enlarger.h"
#include "tests/support/picture_generator.h"

namespace crest {
namespace {

struct ActivityCase {
    int t0, t1, t2, t3;
    std::int32_t activity;
    bool active;
};

const ActivityCase kActivityCases[] = {
    {7, 7, 7, 7, 0, false},      {0, 0, 0, 46, 6348, true},      {10, 10, 10, 36, 2028, false},
    {0, 16, 16, 32, 2048, true}, {0, 0, 21, 24, 2043, false},    {0, 0, 0, 255, 195075, true},
    {0, 0, 255, 255, 260100, true},
};

TEST(Activity, IsSixteenTimesTheTagVariance) {
    for (const ActivityCase& c : kActivityCases) {
        EXPECT_EQ(tagActivity(c.t0, c.t1, c.t2, c.t3), c.activity) << c.t0 << "," << c.t1 << "," << c.t2 << "," << c.t3;
        EXPECT_EQ(tagActivity(c.t3, c.t1, c.t0, c.t2), c.activity) << "order must not matter";
    }
}

// What the pass must store at target (x, y) of a frame whose pixels are as the
// pass finds them: the smooth fill, or the estimate from the pyramid's
// general path on `reference`, a state prepared for this frame and pass.
TaggedPixel referencePixel(EnlargerState& reference, const testing::PlainFrame& frame, int x, int y,
                           const NeighborSet& set) {
    const auto* target = frame.pixels + y * frame.pitch + 4 * x;
    TaggedPixel n[4];
    for (int j = 0; j < 4; ++j) n[j] = loadPixel(target + set.offset[j]);
    const bool canEstimate = frame.width >= 6 && frame.height >= 6;
    if (tagActivity(lumaTag(n[0]), lumaTag(n[1]), lumaTag(n[2]), lumaTag(n[3])) < kActivityThreshold || !canEstimate)
        return smoothFill(n[0], n[1], n[2], n[3]);
    const MomentRecord* window =
        clampedLevelRecord(reference, cellIndexOf(x, y, frame.width / 2), packedCoordOf(x, y), kWindowLevel);
    return estimateEdgePixel(*window, n[0], n[1], n[2], n[3]);
}

// A state prepared for one pass over the frame as it is now.
void prepareReference(EnlargerState& state, testing::PlainFrame& frame, const NeighborSet& set) {
    prepareFrameState(state, frame.pixels, frame.width, frame.height, frame.pitch);
    setPassDirections(state, set);
}

// A 6x6 destination (3x3 source) whose single diagonal-pass target (1,1)
// has neighbours with the given tags.
TEST(Activity, DecidesBetweenSmoothFillAndEstimateAtTheThreshold) {
    for (const ActivityCase& c : kActivityCases) {
        testing::PlainFrame frame(6, 6);
        for (std::int32_t y = 0; y < 6; ++y)
            for (std::int32_t x = 0; x < 6; ++x) frame.set(x, y, 0x00406080);
        const int tags[4] = {c.t0, c.t1, c.t2, c.t3};
        const int offsets[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
        for (int j = 0; j < 4; ++j)
            frame.set(1 + offsets[j][0], 1 + offsets[j][1], 0x00406080u | (std::uint32_t(tags[j]) << 24));
        EnlargerState reference, state;
        prepareReference(reference, frame, diagonalNeighbors(frame.pitch));
        const TaggedPixel expected = referencePixel(reference, frame, 1, 1, diagonalNeighbors(frame.pitch));
        if (!c.active) {
            EXPECT_EQ(expected, tagPixel(0x00406080));
        }
        auto* base = frame.pixels;
        prepareFrameState(state, base, 6, 6, frame.pitch);
        interpolatePass(state, base, frame.pitch, 1, 1, 3, 3, diagonalNeighbors(frame.pitch), false);
        EXPECT_EQ(frame.get(1, 1), expected) << "activity " << c.activity;
    }
}

TEST(SmoothFill, PairsTheNeighboursBeforeAveraging) {
    // Blue 1, 0, 1, 2: the nested floor averages give 0, not the floor mean 1.
    EXPECT_EQ(smoothFill(1, 0, 1, 2) & 0xFF, 0u);
    // Colour R0 G1 B0 is tagged from its colour, (150 + 128) >> 8 = 1,
    // whatever the neighbours' tags were.
    EXPECT_EQ(smoothFill(0xFF000100, 0x00000100, 0x80000100, 0x00000100), 0x01000100u);
}

std::set<std::pair<int, int>> changedPixels(const testing::PlainFrame& frame, std::uint32_t untouched) {
    std::set<std::pair<int, int>> changed;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            if (frame.get(x, y) != untouched) changed.insert({x, y});
    return changed;
}

// Runs a pass on a frame of one colour whose tags are all 0xFF: every visited
// target gets a smooth fill with the colour's real tag, so it shows.
std::set<std::pair<int, int>> visitedTargets(int width, int height, bool axial, int startX, int startY, int endX,
                                             int endY) {
    const std::uint32_t pixel = 0xFF102030;
    testing::PlainFrame frame(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) frame.set(x, y, pixel);
    EnlargerState state;
    auto* base = frame.pixels;
    prepareFrameState(state, base, width, height, frame.pitch);
    const NeighborSet neighbors = axial ? axialNeighbors(frame.pitch) : diagonalNeighbors(frame.pitch);
    interpolatePass(state, base, frame.pitch, startX, startY, endX, endY, neighbors, axial);
    return changedPixels(frame, pixel);
}

TEST(Traversal, VisitsExactlyEachPassesTargetClass) {
    for (int width = 4; width <= 14; width += 2)
        for (int height = 4; height <= 14; height += 2) {
            std::set<std::pair<int, int>> diagonal, axial;
            for (int y = 1; y <= height - 3; y += 2)
                for (int x = 1; x <= width - 3; x += 2) diagonal.insert({x, y});
            for (int y = 1; y <= height - 2; ++y)
                for (int x = y % 2 == 1 ? 2 : 1; x <= (y % 2 == 1 ? width - 2 : width - 3); x += 2)
                    axial.insert({x, y});
            EXPECT_EQ(visitedTargets(width, height, false, 1, 1, width - 1, height - 1), diagonal)
                << width << "x" << height;
            EXPECT_EQ(visitedTargets(width, height, true, 2, 1, width - 1, height - 1), axial)
                << width << "x" << height;
        }
}

TEST(Traversal, EmptyRangesWriteNothingAndAxialStartStillAlternates) {
    EXPECT_TRUE(visitedTargets(10, 10, false, 1, 5, 9, 5).empty());
    EXPECT_TRUE(visitedTargets(10, 10, true, 2, 7, 9, 3).empty());
    // With endX 2, rows starting at column 2 are empty, yet the next row
    // still starts at column 1.
    const std::set<std::pair<int, int>> expected = {{1, 2}, {1, 4}, {1, 6}};
    EXPECT_EQ(visitedTargets(10, 8, true, 2, 1, 2, 7), expected);
}

// Random colours. Tags either mostly near one level with occasional jumps,
// so that groups of four targets come flat, active and mixed, or drawn from
// values whose quadruples often land on the threshold (0, 16, 16, 32 gives
// exactly 2048) or just below it (0, 0, 21, 24 gives 2043).
void fillMixedTags(testing::PlainFrame& frame, std::uint64_t seed, bool nearThreshold) {
    static const std::uint32_t kThresholdTags[] = {0, 16, 21, 24, 32};
    pictures::Random random(seed);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            const std::uint32_t tag = nearThreshold            ? kThresholdTags[random.below(5)]
                                      : random.below(4) == 0 ? random.below(256)
                                                             : 100 + random.below(9);
            frame.set(x, y, static_cast<std::uint32_t>(random.next()) % 0x01000000u | tag << 24);
        }
}

// Rows of every length modulo the group of four, frames too small to
// estimate in, and frames with an interior: every target as the reference
// route gives it, every other pixel untouched.
TEST(Pass, MatchesTheReferenceRouteAtEveryTarget) {
    int estimatedSizes = 0;
    for (int width = 4; width <= 90; width += width < 30 ? 2 : 14)
        for (int height : {4, 6, 10, 40, 52}) {
            for (int variant = 0; variant < 4; ++variant) {
                const bool axial = variant % 2 == 1;
                const std::string where =
                    std::to_string(width) + "x" + std::to_string(height) + (axial ? " axial" : " diagonal");
                testing::PlainFrame frame(width, height), before(width, height, 8);
                fillMixedTags(frame, static_cast<std::uint64_t>(width * 1000 + height * 4 + variant), variant >= 2);
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) before.set(x, y, frame.get(x, y));
                EnlargerState reference, state;
                prepareReference(reference, before,
                                 axial ? axialNeighbors(before.pitch) : diagonalNeighbors(before.pitch));
                auto* base = frame.pixels;
                prepareFrameState(state, base, width, height, frame.pitch);
                interpolatePass(state, base, frame.pitch, axial ? 2 : 1, 1, width - 1, height - 1,
                                axial ? axialNeighbors(frame.pitch) : diagonalNeighbors(frame.pitch), axial);
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x) {
                        const bool target =
                            axial ? (x + y) % 2 == 1 && x >= 1 && y >= 1 && x <= width - 2 && y <= height - 2
                                  : x % 2 == 1 && y % 2 == 1 && x <= width - 3 && y <= height - 3;
                        const NeighborSet set = axial ? axialNeighbors(before.pitch) : diagonalNeighbors(before.pitch);
                        const TaggedPixel expected =
                            target ? referencePixel(reference, before, x, y, set) : before.get(x, y);
                        ASSERT_EQ(frame.get(x, y), expected) << where << " pixel " << x << "," << y;
                    }
                if (reference.blockCount > 0) ++estimatedSizes;
            }
        }
    EXPECT_GT(estimatedSizes, 20) << "the frames must have active targets";
}

TEST(PassDirections, TablesFollowTheNeighbourSet) {
    EnlargerState state;
    state.pitch = 400;  // 100 pixels
    state.halfWidth = 50;
    setPassDirections(state, diagonalNeighbors(400));
    const int dx[4] = {-1, -1, 1, 1}, dy[4] = {-1, 1, 1, -1};
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(state.trainOffset[j], 2 * diagonalNeighbors(400).offset[j]);
        EXPECT_EQ(state.dirPacked[j], packedStep(dx[j], dy[j]));
        for (int k = 1; k < 4; ++k) {
            // A move of 2^k steps, seen in CellIndex terms from an even and an odd column.
            for (int x : {10, 11}) {
                const int y = 20;
                EXPECT_EQ(cellIndexOf(x + (dx[j] << k), y + (dy[j] << k), 50) - cellIndexOf(x, y, 50),
                          state.levelStep[k][j])
                    << "k " << k << " j " << j << " x " << x;
            }
        }
    }
}

}  // namespace
}  // namespace crest

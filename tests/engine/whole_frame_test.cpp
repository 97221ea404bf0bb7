#include <gtest/gtest.h>

#include <cstring>

#include <algorithm>

#include "engine/enlarger.h"
#include "tests/support/frame_helpers.h"
#include "tests/support/reference_enlarger.h"
#include "tests/support/instruction_sets.h"

namespace crest {
namespace {

using pictures::Content;
using pictures::makePicture;

void expectMatchesReference(const testing::EnlargedFrame& frame, const pictures::Picture& picture,
                            const std::string& label) {
    ASSERT_EQ(frame.result, 0) << label;
    const reference::Frame expected = reference::enlarge(picture);
    ASSERT_EQ(frame.width, expected.width);
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x)
            ASSERT_EQ(frame.at(x, y), expected.at(x, y)) << label << " pixel " << x << "," << y;
}

void expectMatchesReference(const pictures::Picture& picture, const std::string& label) {
    expectMatchesReference(testing::enlarge(picture), picture, label);
}

// The engine against the slow, independent construction, pixel class by
// pixel class, with window sums from plain recursion.
TEST(WholeFrame, MatchesTheReferenceConstruction) {
    const Content contents[] = {Content::natural, Content::noise, Content::strokes, Content::shapes, Content::texture};
    const int sides[] = {1, 2, 3, 4, 5, 8, 11, 18, 19, 20, 27};
    for (Content content : contents)
        for (int width : sides)
            for (int height : sides) {
                const auto picture =
                    makePicture(content, width, height, static_cast<std::uint64_t>(width * 31 + height));
                expectMatchesReference(picture, std::to_string(width) + "x" + std::to_string(height) + " content " +
                                                    std::to_string(static_cast<int>(content)));
            }
}

TEST(WholeFrame, MatchesTheReferenceOnLargerFrames) {
    expectMatchesReference(makePicture(Content::natural, 83, 57, 12), "natural 83x57");
    expectMatchesReference(makePicture(Content::noise, 64, 40, 13), "noise 64x40");
}

// Wide rows (every length modulo the groups of four and the batches) and
// tall narrow frames, with every instruction set of the batch routes.
class WholeFrameOnEverySet : public testing::EveryInstructionSet {};

TEST_P(WholeFrameOnEverySet, MatchesTheReferenceOnWideAndTallFrames) {
    const struct {
        Content content;
        int width, height;
    } frames[] = {{Content::noise, 129, 9},    {Content::natural, 257, 7}, {Content::noise, 513, 5},
                  {Content::texture, 1031, 6}, {Content::noise, 1919, 4},  {Content::natural, 2050, 5},
                  {Content::noise, 5, 300},    {Content::strokes, 3, 700}, {Content::noise, 12, 257}};
    const InstructionSet set = this->set();
    for (const auto& f : frames) {
        const auto picture = makePicture(f.content, f.width, f.height, 7);
        expectMatchesReference(testing::enlarge(picture, kernels()), picture,
                               std::to_string(f.width) + "x" + std::to_string(f.height) + " set " +
                                   std::to_string(static_cast<int>(set)));
    }
}
CREST_FOR_EVERY_INSTRUCTION_SET(WholeFrameOnEverySet);

TEST(WholeFrame, LeavesNoMarkerAtAnySize) {
    EnlargerState state;
    for (int width = 1; width <= 40; ++width)
        for (int height = 1; height <= 40; height += (width % 3 == 0 ? 1 : 3)) {
            const auto frame = testing::enlarge(state, makePicture(Content::noise, width, height, 77));
            ASSERT_EQ(frame.result, 0);
            for (std::uint32_t pixel : frame.pixels)
                ASSERT_NE(pixel, testing::kUnwrittenPixel) << width << "x" << height;
        }
}

TEST(WholeFrame, IgnoresTheSourcesTopBytes) {
    for (const auto& size : {std::pair{1, 1}, std::pair{7, 3}, std::pair{45, 41}}) {
        auto picture = makePicture(Content::natural, size.first, size.second, 2);
        const auto plain = testing::enlarge(picture);
        pictures::scrambleTopBytes(picture, 99);
        EXPECT_EQ(testing::enlarge(picture).pixels, plain.pixels) << size.first << "x" << size.second;
    }
}

TEST(WholeFrame, DoesNotDependOnEarlierFrames) {
    EnlargerState reused;
    const std::pair<int, int> sizes[] = {{50, 40}, {7, 9}, {50, 40}, {120, 3}, {33, 61}, {50, 40}, {1, 1}, {33, 61}};
    int index = 0;
    for (const auto& [width, height] : sizes) {
        const auto picture = makePicture(Content::natural, width, height, static_cast<std::uint64_t>(index++));
        EXPECT_EQ(testing::enlarge(reused, picture).pixels, testing::enlarge(picture).pixels)
            << "frame " << index << ": " << width << "x" << height;
    }
}

TEST(WholeFrame, ACopiedStateEnlargesLikeItsSource) {
    auto source = std::make_unique<EnlargerState>();
    const auto picture = makePicture(Content::natural, 37, 29, 5);
    const auto expected = testing::enlarge(*source, picture);
    EnlargerState copy(*source);
    source.reset();
    EXPECT_EQ(testing::enlarge(copy, picture).pixels, expected.pixels);
}

// The passes keep their statistics bands in the caches' storage and never
// clear it: a band entry read before the pass built it would hold the
// bytes left there and change the frame.
TEST(WholeFrame, NeverReadsBandStorageLeftFromBefore) {
    const Content contents[] = {Content::natural, Content::noise};
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 3}, {9, 5}, {5, 14}, {18, 19}, {27, 20}, {40, 30}, {61, 44}};
    for (Content content : contents)
        for (const auto& [width, height] : sizes) {
            EnlargerState state;
            const std::int32_t entries = 2 * width * 2 * height / 2;
            state.prepareCaches(entries + 999);
            for (LevelCache& cache : state.levelCache)
                std::memset(cache.entries, 0x5A, sizeof(MomentRecord*) * static_cast<std::size_t>(cache.length));
            const auto picture = makePicture(content, width, height, static_cast<std::uint64_t>(width + 100 * height));
            const auto frame = testing::enlarge(state, picture);
            ASSERT_EQ(frame.result, 0);
            const std::string label = std::to_string(width) + "x" + std::to_string(height);
            EXPECT_EQ(frame.pixels, testing::enlarge(picture).pixels) << label;
        }
}

// FNV-1a over every word of a fixed set of frames. The 64-bit, 32-bit and
// Windows builds must all produce this same value, with every instruction
// set the batch solve can use: a change means the output is no longer the
// same on every build and path, or no longer the same as before.
class PinnedOutputOnEverySet : public testing::EveryInstructionSet {};

TEST_P(PinnedOutputOnEverySet, OutputIsPinnedAcrossBuilds) {
    const InstructionSet set = this->set();
    std::uint64_t hash = 1469598103934665603ull;
    const struct {
        Content content;
        int width, height;
    } frames[] = {
        {Content::natural, 97, 61}, {Content::noise, 40, 33}, {Content::strokes, 64, 64}, {Content::shapes, 5, 80}};
    for (const auto& f : frames)
        for (std::uint32_t word : testing::enlarge(makePicture(f.content, f.width, f.height, 2026), kernels()).pixels)
            for (int shift = 0; shift < 32; shift += 8) {
                hash ^= (word >> shift) & 0xFF;
                hash *= 1099511628211ull;
            }
    EXPECT_EQ(hash, 6093723397661461192ull) << "instruction set " << static_cast<int>(set);
}
CREST_FOR_EVERY_INSTRUCTION_SET(PinnedOutputOnEverySet);

}  // namespace
}  // namespace crest

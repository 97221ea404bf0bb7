#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <vector>

#include "engine/band_rows.h"
#include "engine/edge_estimate.h"
#include "engine/enlarger.h"
#include "engine/pass_windows.h"
#include "tests/support/picture_generator.h"
#include "tests/support/plain_frame.h"
#include "tests/support/reference_enlarger.h"
#include "tests/support/instruction_sets.h"

namespace crest {
namespace {

// A destination frame of random tags with the state prepared for one pass,
// as the driver leaves it.
class PassSetup {
public:
    PassSetup(std::int32_t width, std::int32_t height, bool axial, std::uint64_t seed, int tagRange = 256)
        : frame_(width, height), axial_(axial) {
        pictures::Random random(seed);
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x)
                frame_.set(x, y, static_cast<std::uint32_t>(random.next()) % 0x01000000u |
                                     (random.below(static_cast<std::uint32_t>(tagRange)) << 24));
        auto* pixels = frame_.pixels;
        prepareFrameState(state_, pixels, width, height, frame_.pitch);
        setPassDirections(state_, axial ? axialNeighbors(frame_.pitch) : diagonalNeighbors(frame_.pitch));
    }

    EnlargerState& state() { return state_; }
    testing::PlainFrame& frame() { return frame_; }
    const reference::Directions& directions() const { return axial_ ? reference::kAxial : reference::kDiagonal; }

    reference::Frame referenceFrame() const {
        reference::Frame copy;
        copy.width = frame_.width;
        copy.height = frame_.height;
        for (std::int32_t y = 0; y < frame_.height; ++y)
            for (std::int32_t x = 0; x < frame_.width; ++x) copy.pixels.push_back(frame_.get(x, y));
        return copy;
    }

    // Every target of the pass, in the pass's order.
    std::vector<std::pair<int, int>> targets() const {
        std::vector<std::pair<int, int>> all;
        for (int y = 1; y <= frame_.height - 2; ++y)
            for (int x = 1; x <= frame_.width - 2; ++x) {
                const bool diagonalTarget = x % 2 == 1 && y % 2 == 1 && x <= frame_.width - 3 && y <= frame_.height - 3;
                if (axial_ ? (x + y) % 2 == 1 : diagonalTarget) all.emplace_back(x, y);
            }
        return all;
    }

    bool isInterior(int x, int y) const {
        return x >= 16 && x < frame_.width - 20 && y >= 16 && y < frame_.height - 20;
    }

private:
    testing::PlainFrame frame_;
    EnlargerState state_;
    bool axial_;
};

void expectSameWords(const MomentRecord& actual, const MomentRecord& expected, const std::string& where) {
    for (int i = 0; i < MomentRecord::kWords; ++i)
        ASSERT_EQ(actual.word[i], expected.word[i]) << where << " word " << i;
}

struct FrameSize {
    int width, height;
};

// Destination sizes: tiny (no interior), just around the 36-pixel interior
// threshold, and larger ones with odd source dimensions.
const FrameSize kSizes[] = {{6, 6},   {6, 30},  {8, 10},  {14, 14}, {20, 8},  {36, 36},
                            {36, 38}, {38, 38}, {40, 42}, {50, 64}, {66, 46}, {98, 74}};

TEST(WindowPyramid, GeneralPathMatchesPlainRecursionForEveryTarget) {
    for (bool axial : {false, true})
        for (const FrameSize& size : kSizes) {
            PassSetup setup(size.width, size.height, axial, 100 + size.width * 7 + size.height);
            const reference::Frame frame = setup.referenceFrame();
            for (const auto& [x, y] : setup.targets()) {
                const MomentRecord* window = clampedLevelRecord(setup.state(), cellIndexOf(x, y, size.width / 2),
                                                                packedCoordOf(x, y), kWindowLevel);
                expectSameWords(*window, reference::windowSum(frame, x, y, setup.directions()),
                                (axial ? "axial " : "diagonal ") + std::to_string(size.width) + "x" +
                                    std::to_string(size.height) + " at " + std::to_string(x) + "," + std::to_string(y));
            }
        }
}

TEST(WindowPyramid, InteriorPathMatchesGeneralPathWhereverBothServe) {
    for (bool axial : {false, true})
        for (const FrameSize& size : kSizes) {
            PassSetup setup(size.width, size.height, axial, 300 + size.width + size.height);
            const reference::Frame frame = setup.referenceFrame();
            int interiorTargets = 0;
            for (const auto& [x, y] : setup.targets()) {
                if (!setup.isInterior(x, y)) continue;
                ++interiorTargets;
                const CellIndex cell = cellIndexOf(x, y, size.width / 2);
                const MomentRecord fast = *interiorWindowSum(setup.state(), cell, packedCoordOf(x, y));
                const MomentRecord* general =
                    clampedLevelRecord(setup.state(), cell, packedCoordOf(x, y), kWindowLevel);
                const std::string where = std::to_string(size.width) + "x" + std::to_string(size.height) + " at " +
                                          std::to_string(x) + "," + std::to_string(y);
                expectSameWords(fast, *general, where);
                expectSameWords(fast, reference::windowSum(frame, x, y, setup.directions()), where);
            }
            if (size.width <= 36 || size.height <= 36) {
                EXPECT_EQ(interiorTargets, 0) << size.width << "x" << size.height;
            }
        }
}

// The windows a pass hands out, from every route (box planes, whole band
// rows, border strips), give every target the words of the pyramid's general
// path; where windowFour serves a group of four, its lanes are the four
// targets' windows. With every instruction set of the kernels, visiting every
// target, and a sparse few, so that chunks of the planes are moved down by
// several rows at once or summed afresh.
class PassWindowsOnEverySet : public testing::EveryInstructionSet {};

TEST_P(PassWindowsOnEverySet, GiveEveryTargetTheGeneralPathsWords) {
    std::vector<FrameSize> sizes(std::begin(kSizes), std::end(kSizes));
    // Tiny, tall and narrow, and sources 129, 257, 513, 1031, 1919 and 2050
    // wide, straddling the planes' chunks.
    sizes.insert(sizes.end(), {{6, 8}, {8, 6}, {10, 12}, {12, 10}, {22, 16}, {130, 24}, {262, 12}, {34, 260},
                               {40, 300}, {52, 140}, {258, 44}, {514, 40}, {1026, 38}, {2062, 42}, {3838, 40},
                               {4100, 46}});
    const InstructionSet set = this->set();
    int groups = 0;
    for (bool axial : {false, true})
        for (const FrameSize& size : sizes)
            for (bool sparse : {false, true}) {
                PassSetup setup(size.width, size.height, axial, 700 + size.width * 3 + size.height);
                EnlargerState windowed(setup.state());
                PassWindows windows(windowed, axial, kernels().bandRows);
                pictures::Random pick(static_cast<std::uint64_t>(size.width * 5 + size.height));
                const std::string frame = (axial ? "axial " : "diagonal ") + std::to_string(size.width) + "x" +
                                          std::to_string(size.height) + (sparse ? " sparse" : "") + " set " +
                                          std::to_string(static_cast<int>(set));
                int row = -1;
                bool rowTaken = true;
                for (const auto& [x, y] : setup.targets()) {
                    if (y != row) {
                        row = y;
                        rowTaken = !sparse || pick.below(5) < 2;
                        if (rowTaken) windows.beginRow(y);
                    }
                    if (!rowTaken || (sparse && pick.below(12) != 0)) continue;
                    const std::string where = frame + " at " + std::to_string(x) + "," + std::to_string(y);
                    MomentRecord window;
                    windows.window(x, window.word, 1);
                    const MomentRecord* general = clampedLevelRecord(
                        setup.state(), cellIndexOf(x, y, size.width / 2), packedCoordOf(x, y), kWindowLevel);
                    expectSameWords(window, *general, where);
                    std::int32_t four[MomentRecord::kWords][4];
                    if (!windows.windowFour(x, &four[0][0], 4)) continue;
                    ++groups;
                    for (int k = 0; k < 4; ++k) {
                        windows.window(x + 2 * k, window.word, 1);
                        for (int w = 0; w < MomentRecord::kWords; ++w)
                            ASSERT_EQ(four[w][k], window.word[w]) << where << " lane " << k << " word " << w;
                    }
                }
            }
    EXPECT_GT(groups, 1000);
}
CREST_FOR_EVERY_INSTRUCTION_SET(PassWindowsOnEverySet);

// The band row kernels of every set against the plain definitions, over
// lengths that leave every possible tail.
class RowKernelsOnEverySet : public testing::EveryInstructionSet {};

TEST_P(RowKernelsOnEverySet, MatchThePlainSumsAndSampleRecords) {
    const InstructionSet set = this->set();
    const BandRowKernels kernels = this->kernels().bandRows;
    pictures::Random random(static_cast<std::uint64_t>(set) + 1);
    for (std::int32_t count = 1; count <= 70; ++count) {
        std::vector<std::int32_t> in(4 * static_cast<std::size_t>(count)), out(static_cast<std::size_t>(count));
        for (std::int32_t& word : in) word = static_cast<std::int32_t>(random.below(1 << 24));
        const std::int32_t* run = in.data();
        kernels.sumFourRuns(out.data(), run, run + count, run + 2 * count, run + 3 * count, count);
        for (std::int32_t w = 0; w < count; ++w)
            ASSERT_EQ(out[static_cast<std::size_t>(w)],
                      run[w] + run[count + w] + run[2 * count + w] + run[3 * count + w])
                << "set " << static_cast<int>(set) << " count " << count << " word " << w;

        // Samples every second pixel of row 2, neighbours two pixels away
        // (the diagonal pass's directions), tags of any level.
        testing::PlainFrame frame(2 * count + 4, 7);
        for (std::int32_t y = 0; y < 7; ++y)
            for (std::int32_t x = 0; x < frame.width; ++x) frame.set(x, y, static_cast<std::uint32_t>(random.next()));
        const std::ptrdiff_t train[4] = {-2 * frame.pitch - 8, 2 * frame.pitch - 8, 2 * frame.pitch + 8,
                                         8 - 2 * frame.pitch};
        const std::uint8_t* first = frame.pixels + 2 * frame.pitch + 8;
        std::vector<std::int32_t> planes(MomentRecord::kWords * static_cast<std::size_t>(count), -1);
        const std::int32_t done = kernels.sampleRow(first, train, planes.data(), count, count);
        ASSERT_LE(done, count);
        ASSERT_GT(done + 16, count) << "whole vectors left undone";
        for (std::int32_t i = 0; i < done; ++i) {
            const auto tag = [&](std::ptrdiff_t offset) {
                return static_cast<std::int32_t>(lumaTag(loadPixel(first + 8 * i + offset)));
            };
            MomentRecord expected;
            fillSampleRecord(expected, tag(train[0]), tag(train[1]), tag(train[2]), tag(train[3]), tag(0));
            for (int w = 0; w < MomentRecord::kWords; ++w)
                ASSERT_EQ(planes[static_cast<std::size_t>(w * count + i)], expected.word[w])
                    << "set " << static_cast<int>(set) << " count " << count << " sample " << i << " word " << w;
        }
        // The tag rows of rows 0 to 6 (every second pixel) against the
        // pixels, then the products from them: the neighbour rows and
        // entries the diagonal pass reads, so the same words as above.
        std::vector<std::vector<std::int32_t>> tagRows(7, std::vector<std::int32_t>(count + 2));
        for (std::int32_t y = 0; y < 7; ++y) {
            kernels.tagRow(frame.pixels + y * frame.pitch, tagRows[y].data(), count + 2);
            for (std::int32_t i = 0; i < count + 2; ++i)
                ASSERT_EQ(tagRows[y][i], static_cast<std::int32_t>(lumaTag(frame.get(2 * i, y))))
                    << "tag row, set " << static_cast<int>(set) << " count " << count;
        }
        const auto tagsOfRow = [&](int y, const std::int32_t* (&tags)[5]) {
            tags[0] = tagRows[y - 2].data();
            tags[1] = tagRows[y + 2].data();
            tags[2] = tagRows[y + 2].data() + 2;
            tags[3] = tagRows[y - 2].data() + 2;
            tags[4] = tagRows[y].data() + 1;
        };
        const std::int32_t* row2[5];
        const std::int32_t* row4[5];
        tagsOfRow(2, row2);
        tagsOfRow(4, row4);
        const std::string kernel = "tag products, set " + std::to_string(static_cast<int>(set)) + " count " +
                                   std::to_string(count);
        std::vector<std::int32_t> products(planes.size(), -1);
        kernels.storeTagProducts(row2, row4, products.data(), count, count);
        for (std::int32_t i = 0; i < done; ++i)
            for (int w = 0; w < MomentRecord::kWords; ++w) {
                const std::size_t at = static_cast<std::size_t>(w * count + i);
                ASSERT_EQ(products[at], planes[at]) << kernel << " stored";
            }
        // Added, twice the products; the difference from row 4's stored
        // and row 2's added over it: row 2's products less row 4's, twice.
        kernels.addTagProducts(row2, row4, products.data(), count, count);
        std::vector<std::int32_t> difference(planes.size(), -1);
        kernels.differenceTagProducts(row2, row4, difference.data(), count, count);
        kernels.addDifferenceTagProducts(row2, row4, difference.data(), count, count);
        for (std::int32_t i = 0; i < count; ++i) {
            MomentRecord two, four;
            fillSampleRecord(two, row2[0][i], row2[1][i], row2[2][i], row2[3][i], row2[4][i]);
            fillSampleRecord(four, row4[0][i], row4[1][i], row4[2][i], row4[3][i], row4[4][i]);
            for (int w = 0; w < MomentRecord::kWords; ++w) {
                const std::size_t at = static_cast<std::size_t>(w * count + i);
                ASSERT_EQ(products[at], 2 * two.word[w]) << kernel << " added, sample " << i;
                ASSERT_EQ(difference[at], 2 * (two.word[w] - four.word[w])) << kernel << " differences";
            }
        }

        // Eight-entry sums of every plane, stored and accumulated, over
        // signed inputs (the planes sum differences of rows).
        const std::ptrdiff_t inPlane = count + 7 + BandRowKernels::kMaxLanes, outPlane = count + 3;
        std::vector<std::int32_t> sums(MomentRecord::kWords * static_cast<std::size_t>(outPlane));
        for (bool accumulate : {false, true}) {
            std::vector<std::int32_t> rows(MomentRecord::kWords * static_cast<std::size_t>(inPlane));
            for (std::int32_t& word : rows) word = static_cast<std::int32_t>(random.below(1 << 22)) - (1 << 21);
            std::vector<std::int32_t> expected = sums;
            for (int w = 0; w < MomentRecord::kWords; ++w)
                for (std::int32_t m = 0; m < count; ++m) {
                    std::int32_t sum = 0;
                    for (int k = 0; k < 8; ++k) sum += rows[static_cast<std::size_t>(w * inPlane + m + k)];
                    std::int32_t& to = expected[static_cast<std::size_t>(w * outPlane + m)];
                    to = accumulate ? to + sum : sum;
                }
            kernels.eightSums(rows.data(), inPlane, sums.data(), outPlane, count, accumulate);
            ASSERT_EQ(sums, expected) << "eight-entry sums, set " << static_cast<int>(set) << " count " << count
                                      << (accumulate ? " accumulated" : "");
        }
    }
}
CREST_FOR_EVERY_INSTRUCTION_SET(RowKernelsOnEverySet);

TEST(WindowPyramid, SumsDoNotDependOnTheOrderOfRequests) {
    for (bool axial : {false, true}) {
        PassSetup forward(50, 46, axial, 5);
        PassSetup backward(50, 46, axial, 5);
        auto targets = forward.targets();
        std::map<std::pair<int, int>, MomentRecord> first;
        for (const auto& [x, y] : targets)
            first[{x, y}] =
                *clampedLevelRecord(forward.state(), cellIndexOf(x, y, 25), packedCoordOf(x, y), kWindowLevel);
        for (auto it = targets.rbegin(); it != targets.rend(); ++it) {
            const auto [x, y] = *it;
            const MomentRecord* window =
                forward.isInterior(x, y)
                    ? interiorWindowSum(backward.state(), cellIndexOf(x, y, 25), packedCoordOf(x, y))
                    : clampedLevelRecord(backward.state(), cellIndexOf(x, y, 25), packedCoordOf(x, y), kWindowLevel);
            expectSameWords(*window, first[{x, y}], std::to_string(x) + "," + std::to_string(y));
        }
    }
}

TEST(WindowPyramid, GeneralPathTakesOneFreshRecordPerRepeatedRequest) {
    PassSetup setup(40, 40, false, 9);
    const CellIndex cell = cellIndexOf(1, 1, 20);
    MomentRecord* first = clampedLevelRecord(setup.state(), cell, packedCoordOf(1, 1), kWindowLevel);
    const std::int32_t usedAfterFirst = setup.state().blockUsed;
    MomentRecord* second = clampedLevelRecord(setup.state(), cell, packedCoordOf(1, 1), kWindowLevel);
    EXPECT_NE(first, second);
    EXPECT_EQ(setup.state().blockUsed, usedAfterFirst + 1);
    expectSameWords(*first, *second, "repeat");
}

TEST(WindowPyramid, InteriorPathReusesTheScratchRecord) {
    PassSetup setup(60, 60, true, 13);
    const CellIndex cell = cellIndexOf(21, 20, 30);
    MomentRecord* first = interiorWindowSum(setup.state(), cell, packedCoordOf(21, 20));
    const std::int32_t usedAfterFirst = setup.state().blockUsed;
    MomentRecord* second = interiorWindowSum(setup.state(), cell, packedCoordOf(21, 20));
    EXPECT_EQ(first, &setup.state().windowSum);
    EXPECT_EQ(second, first);
    EXPECT_EQ(setup.state().blockUsed, usedAfterFirst) << "a known window costs lookups only";
}

TEST(WindowPyramid, LevelCachesHoldOneRecordPerPosition) {
    PassSetup setup(40, 40, true, 21);
    for (const auto& [x, y] : setup.targets())
        clampedLevelRecord(setup.state(), cellIndexOf(x, y, 20), packedCoordOf(x, y), kWindowLevel);
    // Asking again for any level-0 node must return the cached record, keyed by its own cell.
    for (int y = 2; y < 38; ++y)
        for (int x = 2; x < 38; ++x) {
            if ((x + y) % 2 != 0) continue;
            MomentRecord* cached = setup.state().levelCache[0].entries[cellIndexOf(x, y, 20)];
            if (cached == nullptr) continue;
            EXPECT_EQ(levelZeroRecord(setup.state(), cellIndexOf(x, y, 20), packedCoordOf(x, y)), cached);
            expectSameWords(*cached, reference::sampleRecord(setup.referenceFrame(), x, y, reference::kAxial),
                            std::to_string(x) + "," + std::to_string(y));
        }
}

struct ClampCase {
    int inner;      // unclamped inner column u
    int expected;   // inner column it stands for
};

TEST(WindowPyramid, ClampsOutsideCoordinatesKeepingParity) {
    PassSetup setup(30, 30, false, 4);  // innerWidth 26
    const int limit = setup.state().innerWidth;
    const ClampCase cases[] = {
        {-1, 1}, {-2, 0}, {-3, 1}, {limit, limit - 2}, {limit + 1, limit - 1}, {limit + 2, limit - 2}};
    for (const ClampCase& c : cases) {
        const int v = 4;
        MomentRecord* inside =
            levelZeroRecord(setup.state(), cellIndexOf(c.expected + 2, v + 2, 15), packInner(c.expected, v));
        MomentRecord* clamped = clampedLevelRecord(setup.state(), -12345, packInner(c.inner, v), 0);
        EXPECT_EQ(clamped, inside) << "u " << c.inner;
        MomentRecord* clampedRow = clampedLevelRecord(setup.state(), -12345, packInner(v, c.inner), 0);
        EXPECT_EQ(clampedRow,
                  levelZeroRecord(setup.state(), cellIndexOf(v + 2, c.expected + 2, 15), packInner(v, c.expected)))
            << "v " << c.inner;
    }
}

TEST(SampleRecord, ClampsOnlyTheCentreIntoTheNeighbourRange) {
    struct Case {
        int centre, expectedCentre;
    };
    // Diagonal neighbours of (4, 4) are (2,2), (2,6), (6,6), (6,2) with tags 40, 10, 30, 20.
    for (const Case c : {Case{200, 40}, Case{3, 10}, Case{25, 25}, Case{10, 10}, Case{40, 40}}) {
        PassSetup setup(12, 12, false, 1);
        auto tagAt = [&](int x, int y, std::uint32_t tag) { setup.frame().set(x, y, (tag << 24) | 0x00ABCDEF); };
        tagAt(2, 2, 40);
        tagAt(2, 6, 10);
        tagAt(6, 6, 30);
        tagAt(6, 2, 20);
        tagAt(4, 4, static_cast<std::uint32_t>(c.centre));
        const MomentRecord* record = computeSampleRecord(setup.state(), 2, 2);
        const int n[4] = {40, 10, 30, 20};
        const int expected[14] = {n[0] * n[0], n[0] * n[1], n[0] * n[2], n[0] * n[3], n[1] * n[1],
                                  n[1] * n[2], n[1] * n[3], n[2] * n[2], n[2] * n[3], n[3] * n[3],
                                  c.expectedCentre * n[0], c.expectedCentre * n[1], c.expectedCentre * n[2],
                                  c.expectedCentre * n[3]};
        for (int i = 0; i < 14; ++i) EXPECT_EQ(record->word[i], expected[i]) << "centre " << c.centre << " word " << i;
    }
}

TEST(WindowPyramid, FlatTagsGiveSixtyFourTimesTheSquare) {
    for (int tag : {0, 1, 128, 255}) {
        PassSetup setup(44, 44, true, 2, 1);
        for (std::int32_t y = 0; y < 44; ++y)
            for (std::int32_t x = 0; x < 44; ++x) setup.frame().set(x, y, (std::uint32_t(tag) << 24) | 0x123456);
        for (const auto& [x, y] : std::vector<std::pair<int, int>>{{1, 2}, {21, 20}, {42, 41}, {3, 40}}) {
            const MomentRecord* window =
                clampedLevelRecord(setup.state(), cellIndexOf(x, y, 22), packedCoordOf(x, y), kWindowLevel);
            for (int i = 0; i < 14; ++i) ASSERT_EQ(window->word[i], 64 * tag * tag) << "tag " << tag;
        }
    }
}

// The reference's window shapes against their definition, so that agreement
// with it means agreement with the intended windows.
TEST(ReferenceWindows, InteriorShapesAreTheSquareAndTheDiamond) {
    reference::Frame frame;
    frame.width = frame.height = 60;
    std::map<std::pair<int, int>, int> diagonal, axial;
    for (const auto& s : reference::windowSamples(frame, 31, 31, reference::kDiagonal))
        ++diagonal[{s.dx - 31, s.dy - 31}];
    for (const auto& s : reference::windowSamples(frame, 31, 30, reference::kAxial)) ++axial[{s.dx - 31, s.dy - 30}];
    EXPECT_EQ(diagonal.size(), 64u);
    for (const auto& [offset, count] : diagonal) {
        EXPECT_EQ(count, 1);
        EXPECT_TRUE(offset.first % 2 != 0 && offset.second % 2 != 0 && std::abs(offset.first) <= 7 &&
                    std::abs(offset.second) <= 7);
    }
    EXPECT_EQ(axial.size(), 64u);
    for (const auto& [offset, count] : axial) {
        EXPECT_EQ(count, 1);
        EXPECT_LE(std::abs(offset.first) + std::abs(offset.second), 7);
        EXPECT_NE((offset.first + offset.second) % 2, 0);
    }
}

TEST(ReferenceWindows, CornerWindowRepeatsClampedSamples) {
    reference::Frame frame;
    frame.width = frame.height = 14;
    std::map<std::pair<int, int>, int> counts;
    for (const auto& s : reference::windowSamples(frame, 1, 1, reference::kDiagonal)) {
        EXPECT_TRUE(s.dx % 2 == 0 && s.dy % 2 == 0 && s.dx >= 2 && s.dx <= 10 && s.dy >= 2 && s.dy <= 10);
        ++counts[{s.dx, s.dy}];
    }
    EXPECT_EQ((counts[{4, 4}]), 9);
    EXPECT_EQ((counts[{2, 2}]), 1);
}

TEST(ReferenceWindows, AxialSamplesStayOnTheirLatticeAtTheBorder) {
    reference::Frame frame;
    frame.width = 22;
    frame.height = 18;
    for (int y = 1; y <= 16; ++y)
        for (int x = 1; x <= 20; ++x) {
            if ((x + y) % 2 == 0) continue;
            for (const auto& s : reference::windowSamples(frame, x, y, reference::kAxial))
                ASSERT_EQ((s.dx + s.dy) % 2, 0) << "target " << x << "," << y;
        }
}

}  // namespace
}  // namespace crest

#include <gtest/gtest.h>

#include <cmath>

#include "engine/edge_estimate.h"
#include "tests/support/picture_generator.h"

namespace crest {
namespace {

MomentRecord recordOf(std::initializer_list<std::int32_t> words) {
    MomentRecord record{};
    int i = 0;
    for (std::int32_t w : words) record.word[i++] = w;
    return record;
}

std::uint32_t grey(std::uint32_t level) { return (level << 16) | (level << 8) | level; }

TEST(EdgeWeights, AllZeroWindowDropsEveryPivot) {
    float x[4];
    solveEdgeWeights(MomentRecord{}, x);
    for (float weight : x) EXPECT_EQ(weight, 0.0f);
}

TEST(EdgeWeights, ConstantWindowKeepsTheFirstRowOnTies) {
    for (std::int32_t v : {1, 3, 7, 100, 255}) {
        MomentRecord record{};
        for (std::int32_t& w : record.word) w = 64 * v * v;
        float x[4];
        solveEdgeWeights(record, x);
        EXPECT_EQ(x[0], 1.0f) << "v " << v;
        EXPECT_EQ(x[1], 0.0f) << "v " << v;
        EXPECT_EQ(x[2], 0.0f) << "v " << v;
        EXPECT_EQ(x[3], 0.0f) << "v " << v;
    }
}

TEST(EdgeWeights, PivotBelowTenIsDroppedAndTenIsUsed) {
    float x[4];
    solveEdgeWeights(recordOf({10, 0, 0, 0, 9, 0, 0, 100, 0, 1000, 20, 18, 50, 250}), x);
    EXPECT_EQ(x[0], 2.0f);
    EXPECT_EQ(x[1], 0.0f);
    EXPECT_EQ(x[2], 0.5f);
    EXPECT_EQ(x[3], 0.25f);

    solveEdgeWeights(recordOf({10, 0, 0, 0, 10, 0, 0, 100, 0, 1000, 20, 18, 50, 250}), x);
    EXPECT_EQ(x[1], static_cast<float>(18.0 * (1.0 / 10.0)));
    EXPECT_EQ(x[1], 1.8f);
}

TEST(EdgeWeights, PivotSearchTakesTheLargestMagnitudeRow) {
    // A = [[1,0,2,0],[0,50,0,0],[2,0,40,0],[0,0,0,30]], b = A (3, 1, 0.5, 2).
    // Column 0's largest entry is row 2's 2: it becomes the pivot row, is
    // below ten, and so drops out with direction 0. Row 0's pivot in column 2
    // is then 2 as well and drops direction 2. Had row 0 been kept as the
    // first pivot, row 2 would have given x2 = 26 / 40.
    float x[4];
    solveEdgeWeights(recordOf({1, 0, 2, 0, 50, 0, 0, 40, 0, 30, 4, 50, 26, 60}), x);
    EXPECT_EQ(x[0], 0.0f);
    EXPECT_EQ(x[1], 1.0f);
    EXPECT_EQ(x[2], 0.0f);
    EXPECT_EQ(x[3], 2.0f);
}

// Gaussian elimination in long double on well-conditioned systems: the exact
// rounding sequence differs, so the weights agree only to float accuracy.
TEST(EdgeWeights, AgreeWithAnIndependentSolveOnWellConditionedWindows) {
    pictures::Random random(11);
    for (int trial = 0; trial < 2000; ++trial) {
        // Sum of outer products of 64 random neighbour quadruples: symmetric positive definite.
        long double a[4][4] = {}, b[4] = {};
        MomentRecord record{};
        for (int s = 0; s < 64; ++s) {
            std::int32_t n[4];
            for (std::int32_t& value : n) value = static_cast<std::int32_t>(random.below(256));
            const std::int32_t c = static_cast<std::int32_t>(random.below(256));
            int word = 0;
            for (int r = 0; r < 4; ++r) {
                for (int col = r; col < 4; ++col) record.word[word++] += n[r] * n[col];
                record.word[10 + r] += c * n[r];
            }
        }
        int word = 0;
        for (int r = 0; r < 4; ++r)
            for (int col = r; col < 4; ++col) a[r][col] = a[col][r] = record.word[word++];
        for (int r = 0; r < 4; ++r) b[r] = record.word[10 + r];
        for (int k = 0; k < 4; ++k)
            for (int r = k + 1; r < 4; ++r) {
                const long double f = a[r][k] / a[k][k];
                for (int col = k; col < 4; ++col) a[r][col] -= f * a[k][col];
                b[r] -= f * b[k];
            }
        long double expected[4];
        for (int k = 3; k >= 0; --k) {
            long double sum = b[k];
            for (int col = k + 1; col < 4; ++col) sum -= a[k][col] * expected[col];
            expected[k] = sum / a[k][k];
        }
        float x[4];
        solveEdgeWeights(record, x);
        for (int j = 0; j < 4; ++j)
            ASSERT_NEAR(x[j], static_cast<double>(expected[j]),
                        1e-3 + 1e-3 * std::fabs(static_cast<double>(expected[j])))
                << "trial " << trial << " weight " << j;
    }
}

TEST(EdgeEstimate, BlackWindowGivesMeanColourMinusMeanLuma) {
    // Grey neighbours: the luma equals the grey level, so every channel is 0.5 -> 0.
    EXPECT_EQ(estimateEdgePixel(MomentRecord{}, grey(10), grey(200), grey(90), grey(255)), 0u);
    // Pure red: 255 - 76.69921875 + 0.5 truncates to 178 red; green and blue clamp to 0.
    const std::uint32_t red = 0x00FF0000;
    const std::uint32_t expectedRed = 178;
    EXPECT_EQ(estimateEdgePixel(MomentRecord{}, red, red, red, red),
              (((77 * expectedRed) >> 8) << 24) | (expectedRed << 16));
}

TEST(EdgeEstimate, ConstantWindowCopiesTheFirstNeighbour) {
    MomentRecord record{};
    for (std::int32_t& w : record.word) w = 64 * 9;
    EXPECT_EQ(estimateEdgePixel(record, grey(200), grey(100), grey(100), grey(100)), (200u << 24) | grey(200));
}

TEST(EdgeEstimate, IgnoresTheNeighboursTags) {
    MomentRecord record = recordOf({10, 0, 0, 0, 9, 0, 0, 100, 0, 1000, 20, 18, 50, 250});
    const std::uint32_t n[4] = {0x00123456, 0x00ABCDEF, 0x00808080, 0x00010203};
    const std::uint32_t plain = estimateEdgePixel(record, n[0], n[1], n[2], n[3]);
    EXPECT_EQ(estimateEdgePixel(record, n[0] | 0xFF000000, n[1] | 0x12000000, n[2] | 0x80000000, n[3] | 0x01000000),
              plain);
}

TEST(EdgeEstimate, OutputTagHasNoRoundingTerm) {
    // All-zero window, four neighbours of green 2: green 2 - 1.171875 + 0.5 -> 1.
    const std::uint32_t green2 = 0x00000200;
    EXPECT_EQ(estimateEdgePixel(MomentRecord{}, green2, green2, green2, green2), 0x00000100u);
}

TEST(EdgeEstimate, ClampsChannelsAtTheTop) {
    // Weights (1,0,0,0), first neighbour white, rest black: 63.75 + 191.25 + 0.5 = 255.5 -> 255.
    MomentRecord record{};
    for (std::int32_t& w : record.word) w = 64;
    EXPECT_EQ(estimateEdgePixel(record, 0x00FFFFFF, 0, 0, 0), 0xFFFFFFFFu);
}

struct ChannelCase {
    float value;
    std::uint32_t byte;
};

TEST(EdgeEstimate, ChannelConversionBoundaries) {
    const ChannelCase cases[] = {{-1000.0f, 0}, {-0.0f, 0}, {0.0f, 0},       {0.99f, 0},    {1.0f, 1},
                                 {254.99f, 254}, {255.0f, 255}, {255.01f, 255}, {1e9f, 255}};
    for (const ChannelCase& c : cases) EXPECT_EQ(channelToByte(c.value), c.byte) << c.value;
}

}  // namespace
}  // namespace crest

// The engine's solve against the plain one it replaced, bit for bit. The
// plain solve keeps the rows in place and walks them through an order table;
// the engine swaps rows so that every index is a constant.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "engine/edge_estimate.h"
#include "tests/support/picture_generator.h"

namespace crest {
namespace {

void plainSolve(const MomentRecord& window, float weights[4]) {
    const std::int32_t* w = window.word;
    double a[4][4] = {
        {double(w[0]), double(w[1]), double(w[2]), double(w[3])},
        {double(w[1]), double(w[4]), double(w[5]), double(w[6])},
        {double(w[2]), double(w[5]), double(w[7]), double(w[8])},
        {double(w[3]), double(w[6]), double(w[8]), double(w[9])},
    };
    float b[4] = {float(w[10]), float(w[11]), float(w[12]), float(w[13])};
    int order[4] = {0, 1, 2, 3};
    for (int k = 0; k < 4; ++k) {
        int best = k;
        for (int i = k + 1; i < 4; ++i)
            if (std::fabs(a[order[i]][k]) > std::fabs(a[order[best]][k])) best = i;
        std::swap(order[k], order[best]);
        const int p = order[k];
        if (std::fabs(a[p][k]) < kSmallestPivot) {
            for (int c = k + 1; c < 4; ++c) a[p][c] = 0.0;
            for (int r = 0; r < 4; ++r) a[r][k] = 0.0;
            a[p][k] = 1.0;
            b[p] = 0.0f;
            continue;
        }
        const double inverse = 1.0 / a[p][k];
        for (int i = k + 1; i < 4; ++i) {
            const int r = order[i];
            const double factor = inverse * a[r][k];
            a[r][k] = 0.0;
            for (int c = k + 1; c < 4; ++c) a[r][c] = a[r][c] - factor * a[p][c];
            b[r] = static_cast<float>(static_cast<double>(b[r]) - factor * static_cast<double>(b[p]));
        }
        a[p][k] = 1.0;
        for (int c = k + 1; c < 4; ++c) a[p][c] = inverse * a[p][c];
        b[p] = static_cast<float>(static_cast<double>(b[p]) * inverse);
    }
    for (int k = 3; k >= 1; --k) {
        const double solved = b[order[k]];
        for (int i = k - 1; i >= 0; --i) {
            const int r = order[i];
            b[r] = static_cast<float>(static_cast<double>(b[r]) - solved * a[r][k]);
        }
    }
    for (int j = 0; j < 4; ++j) weights[j] = b[order[j]];
}

// 64 samples whose tags come from `levels`: few levels give ties and
// singular pivots, many give well-conditioned systems.
MomentRecord windowOf(pictures::Random& random, const std::int32_t* levels, std::uint32_t levelCount) {
    MomentRecord record{};
    for (int s = 0; s < 64; ++s) {
        std::int32_t n[4];
        for (std::int32_t& value : n) value = levels[random.below(levelCount)];
        const std::int32_t c = levels[random.below(levelCount)];
        int word = 0;
        for (int r = 0; r < 4; ++r) {
            for (int col = r; col < 4; ++col) record.word[word++] += n[r] * n[col];
            record.word[10 + r] += c * n[r];
        }
    }
    return record;
}

void expectSameBits(const MomentRecord& record, int trial) {
    float fast[4], plain[4];
    solveEdgeWeights(record, fast);
    plainSolve(record, plain);
    ASSERT_EQ(std::memcmp(fast, plain, sizeof fast), 0)
        << "trial " << trial << ": " << fast[0] << " " << fast[1] << " " << fast[2] << " " << fast[3] << " vs "
        << plain[0] << " " << plain[1] << " " << plain[2] << " " << plain[3];
}

TEST(SolveEquivalence, MatchesThePlainSolveOnSampledWindows) {
    pictures::Random random(2026);
    std::int32_t all[256];
    for (int i = 0; i < 256; ++i) all[i] = i;
    const std::int32_t few[] = {0, 1, 2, 255};
    const std::int32_t two[] = {100, 101};
    const std::int32_t dark[] = {0, 0, 0, 1};
    for (int trial = 0; trial < 20000; ++trial) {
        switch (trial % 4) {
            case 0: expectSameBits(windowOf(random, all, 256), trial); break;
            case 1: expectSameBits(windowOf(random, few, 4), trial); break;
            case 2: expectSameBits(windowOf(random, two, 2), trial); break;
            default: expectSameBits(windowOf(random, dark, 4), trial); break;
        }
    }
}

// Arbitrary words, not only sums of products: small values hit the pivot
// threshold and exact ties in every column.
TEST(SolveEquivalence, MatchesThePlainSolveOnArbitraryWords) {
    pictures::Random random(7);
    for (int trial = 0; trial < 20000; ++trial) {
        MomentRecord record{};
        const std::uint32_t range = trial % 3 == 0 ? 4u : trial % 3 == 1 ? 24u : 5000u;
        for (std::int32_t& word : record.word)
            word = static_cast<std::int32_t>(random.below(2 * range)) - static_cast<std::int32_t>(range);
        expectSameBits(record, trial);
    }
}

}  // namespace
}  // namespace crest

// The engine's solve against the plain one it replaced, bit for bit. The
// plain solve keeps the rows in place and walks them through an order table;
// the engine swaps rows so that every index is a constant.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "engine/edge_estimate.h"
#include "tests/support/picture_generator.h"
#include "tests/support/instruction_sets.h"

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

// Sampled windows and arbitrary words in turn: few levels give ties and
// dropped pivots, small arbitrary words hit the pivot threshold and exact
// ties in every column.
MomentRecord testWindow(pictures::Random& random, int trial) {
    static const std::int32_t few[] = {0, 1, 2, 255}, two[] = {100, 101}, dark[] = {0, 0, 0, 1};
    static const auto all = [] {
        std::array<std::int32_t, 256> levels{};
        for (int i = 0; i < 256; ++i) levels[static_cast<std::size_t>(i)] = i;
        return levels;
    }();
    switch (trial % 8) {
        case 0: return windowOf(random, all.data(), 256);
        case 1: return windowOf(random, few, 4);
        case 2: return windowOf(random, two, 2);
        case 3: return windowOf(random, dark, 4);
        default: {
            MomentRecord record{};
            const std::uint32_t range = trial % 8 == 4 ? 4u : trial % 8 == 5 ? 24u : 5000u;
            for (std::int32_t& word : record.word)
                word = static_cast<std::int32_t>(random.below(2 * range)) - static_cast<std::int32_t>(range);
            return record;
        }
    }
}

TEST(SolveEquivalence, MatchesThePlainSolve) {
    pictures::Random random(2026);
    for (int trial = 0; trial < 40000; ++trial) expectSameBits(testWindow(random, trial), trial);
}

// Every instruction set the processor has, each lane of every batch against
// the one-window solve and estimate, with batches of every fill. Neighbours
// of random colours (some all dark or all bright) drive the channels past
// both clamps.
class BatchSolveOnEverySet : public testing::EveryInstructionSet {};

TEST_P(BatchSolveOnEverySet, BatchesGiveTheSameBitsOnEveryInstructionSet) {
    const InstructionSet set = this->set();
    pictures::Random random(99);
    for (int trial = 0; trial < 40000; trial += WindowBatch::kCapacity) {
        WindowBatch batch{};
        batch.count = 1 + trial / WindowBatch::kCapacity % WindowBatch::kCapacity;
        MomentRecord windows[WindowBatch::kCapacity];
        for (int k = 0; k < batch.count; ++k) {
            windows[k] = testWindow(random, trial + k);
            for (int w = 0; w < MomentRecord::kWords; ++w) batch.word[w][k] = windows[k].word[w];
            for (auto& neighbor : batch.neighbor) {
                const auto colour = static_cast<std::uint32_t>(random.next());
                neighbor[k] = k % 3 == 0 ? colour | 0xF0F0F0F0u : k % 3 == 1 ? colour : colour & 0x0F0F0F0Fu;
            }
        }
        float weights[4][WindowBatch::kCapacity];
        kernels().solveBatch(batch, weights);
        TaggedPixel pixels[WindowBatch::kCapacity];
        kernels().estimateBatch(batch, pixels);
        for (int k = 0; k < batch.count; ++k) {
            float one[4];
            solveEdgeWeights(windows[k], one);
            for (int j = 0; j < 4; ++j)
                ASSERT_EQ(std::memcmp(&weights[j][k], &one[j], sizeof(float)), 0)
                    << "set " << static_cast<int>(set) << " trial " << trial + k << " weight " << j;
            ASSERT_EQ(pixels[k], estimateEdgePixel(windows[k], batch.neighbor[0][k], batch.neighbor[1][k],
                                                   batch.neighbor[2][k], batch.neighbor[3][k]))
                << "set " << static_cast<int>(set) << " trial " << trial + k;
        }
    }
}
CREST_FOR_EVERY_INSTRUCTION_SET(BatchSolveOnEverySet);

}  // namespace
}  // namespace crest

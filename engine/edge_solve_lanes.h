// The least-squares solve of solveEdgeWeights for several windows at once,
// one window per lane of a vector of doubles. Each lane performs exactly the
// scalar solve's IEEE operations in the same order: the pivot choice, the
// row exchange and the dropping of small pivots become per-lane selects, and
// a lane whose pivot is dropped computes the elimination too but keeps the
// values the scalar solve leaves. So every lane's weights have the scalar
// solve's bits.
//
// Included by one source file per instruction set, each compiled for it, so
// everything here has internal linkage.
#pragma once

#include <cstdint>

#include "engine/edge_estimate.h"

namespace crest {
namespace {

// Lanes supplies: D (doubles), M (lane mask), kLanes, set(double), add, sub,
// mul, div, abs, greater, less, select(mask, ifTrue, ifFalse), andNot(a, b)
// = a and not b, loadWords(const int32_t*) converting kLanes words,
// roundToFloat (to float and back) and storeFloats(float*, D).
template <typename Lanes>
struct LaneSolve {
    using D = typename Lanes::D;
    using M = typename Lanes::M;

    D a[4][4];
    D b[4];

    explicit LaneSolve(const WindowBatch& batch, int first) {
        static constexpr int kWordOf[4][4] = {{0, 1, 2, 3}, {1, 4, 5, 6}, {2, 5, 7, 8}, {3, 6, 8, 9}};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) a[r][c] = Lanes::loadWords(&batch.word[kWordOf[r][c]][first]);
            b[r] = Lanes::roundToFloat(Lanes::loadWords(&batch.word[10 + r][first]));
        }
    }

    template <int K>
    void eliminate() {
        // Pivot search: the strictly largest magnitude, ties to the earliest row.
        D magnitude = Lanes::abs(a[K][K]);
        M chosen[4];
        for (int i = K + 1; i < 4; ++i) {
            const D candidate = Lanes::abs(a[i][K]);
            const M larger = Lanes::greater(candidate, magnitude);
            magnitude = Lanes::select(larger, candidate, magnitude);
            for (int j = K + 1; j < i; ++j) chosen[j] = Lanes::andNot(chosen[j], larger);
            chosen[i] = larger;
        }
        // At most one row is chosen per lane, so exchanging with each in turn
        // is the scalar solve's single exchange.
        for (int i = K + 1; i < 4; ++i) {
            for (int c = K; c < 4; ++c) {
                const D pivotRow = a[K][c];
                a[K][c] = Lanes::select(chosen[i], a[i][c], pivotRow);
                a[i][c] = Lanes::select(chosen[i], pivotRow, a[i][c]);
            }
            const D pivotRhs = b[K];
            b[K] = Lanes::select(chosen[i], b[i], pivotRhs);
            b[i] = Lanes::select(chosen[i], pivotRhs, b[i]);
        }

        const M dropped = Lanes::less(magnitude, Lanes::set(kSmallestPivot));
        const D zero = Lanes::set(0.0);
        const D inverse = Lanes::div(Lanes::set(1.0), a[K][K]);
        for (int i = K + 1; i < 4; ++i) {
            const D factor = Lanes::mul(inverse, a[i][K]);
            a[i][K] = zero;
            for (int c = K + 1; c < 4; ++c)
                a[i][c] = Lanes::select(dropped, a[i][c], Lanes::sub(a[i][c], Lanes::mul(factor, a[K][c])));
            b[i] = Lanes::select(dropped, b[i], Lanes::roundToFloat(Lanes::sub(b[i], Lanes::mul(factor, b[K]))));
        }
        for (int r = 0; r < K; ++r) a[r][K] = Lanes::select(dropped, zero, a[r][K]);
        for (int c = K + 1; c < 4; ++c) a[K][c] = Lanes::select(dropped, zero, Lanes::mul(inverse, a[K][c]));
        a[K][K] = Lanes::set(1.0);
        b[K] = Lanes::select(dropped, zero, Lanes::roundToFloat(Lanes::mul(b[K], inverse)));
    }

    template <int K>
    void substitute() {
        for (int i = K - 1; i >= 0; --i) b[i] = Lanes::roundToFloat(Lanes::sub(b[i], Lanes::mul(b[K], a[i][K])));
    }

    void solve(float (&weights)[4][WindowBatch::kCapacity], int first) {
        eliminate<0>();
        eliminate<1>();
        eliminate<2>();
        eliminate<3>();
        substitute<3>();
        substitute<2>();
        substitute<1>();
        for (int j = 0; j < 4; ++j) Lanes::storeFloats(&weights[j][first], b[j]);
    }
};

template <typename Lanes>
void solveBatchWith(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]) {
    for (int first = 0; first < batch.count; first += Lanes::kLanes) LaneSolve<Lanes>(batch, first).solve(weights, first);
}

}  // namespace
}  // namespace crest

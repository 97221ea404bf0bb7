// The least-squares solve of solveEdgeWeights, and the rest of
// estimateEdgePixel, for several windows at once, one window per lane of a
// vector of doubles. Each lane performs exactly the one-window solve's IEEE
// operations in the same order: the pivot choice, the row exchange and the
// dropping of small pivots become per-lane selects, and a lane whose pivot
// is dropped computes the elimination too but keeps the values the
// one-window solve leaves. So every lane's weights and pixel have the
// one-window bits.
//
// Included by one source file per instruction set, each compiled for it, so
// everything here has internal linkage.
#pragma once

#include <cstdint>

#include "engine/edge_estimate.h"

namespace crest {
namespace {

// Lanes supplies: D (doubles), M (lane mask), I (kLanes 32-bit integers),
// kLanes, set(double), add, sub, mul, div, abs, min, max, greater, less,
// select(mask, ifTrue, ifFalse), exchangeWhere(mask, x, y) (swaps the lanes
// of x and y where the mask is set), none(mask), andNot(a, b) = a and not b,
// loadWords(const int32_t*) converting kLanes words, roundToFloat (to float
// and back), storeFloats(float*, D), loadPixels(const TaggedPixel*),
// byteOf(I, shift) (a byte of each pixel as a double), truncate (D to I,
// toward zero), pixelsOf(red, green, blue) (the estimate's output pixels
// from channel bytes) and storePixels(TaggedPixel*, I).
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
        // is the one-window solve's single exchange.
        for (int i = K + 1; i < 4; ++i) {
            for (int c = K; c < 4; ++c) Lanes::exchangeWhere(chosen[i], a[K][c], a[i][c]);
            Lanes::exchangeWhere(chosen[i], b[K], b[i]);
        }

        const M dropped = Lanes::less(magnitude, Lanes::set(kSmallestPivot));
        // Small pivots are rare: without one in any lane, no value needs
        // keeping and the selects go.
        if (Lanes::none(dropped))
            reduce<K, false>(dropped);
        else
            reduce<K, true>(dropped);
    }

    // Elimination below pivot K, then the pivot row's normalisation; lanes
    // whose pivot is dropped keep what the one-window solve leaves.
    template <int K, bool kSomeDropped>
    void reduce(M dropped) {
        const auto unlessDropped = [&](D ifDropped, D otherwise) {
            if constexpr (kSomeDropped) return Lanes::select(dropped, ifDropped, otherwise);
            return otherwise;
        };
        const D zero = Lanes::set(0.0);
        const D inverse = Lanes::div(Lanes::set(1.0), a[K][K]);
        for (int i = K + 1; i < 4; ++i) {
            const D factor = Lanes::mul(inverse, a[i][K]);
            a[i][K] = zero;
            for (int c = K + 1; c < 4; ++c)
                a[i][c] = unlessDropped(a[i][c], Lanes::sub(a[i][c], Lanes::mul(factor, a[K][c])));
            b[i] = unlessDropped(b[i], Lanes::roundToFloat(Lanes::sub(b[i], Lanes::mul(factor, b[K]))));
        }
        if constexpr (kSomeDropped)
            for (int r = 0; r < K; ++r) a[r][K] = Lanes::select(dropped, zero, a[r][K]);
        for (int c = K + 1; c < 4; ++c) a[K][c] = unlessDropped(zero, Lanes::mul(inverse, a[K][c]));
        a[K][K] = Lanes::set(1.0);
        b[K] = unlessDropped(zero, Lanes::roundToFloat(Lanes::mul(b[K], inverse)));
    }

    template <int K>
    void substitute() {
        for (int i = K - 1; i >= 0; --i) b[i] = Lanes::roundToFloat(Lanes::sub(b[i], Lanes::mul(b[K], a[i][K])));
    }

    // Leaves weight j, a float's value, in b[j].
    void solve() {
        eliminate<0>();
        eliminate<1>();
        eliminate<2>();
        eliminate<3>();
        substitute<3>();
        substitute<2>();
        substitute<1>();
    }

    // estimateEdgePixel's correction and channels from the solved weights,
    // lane by lane: (77 R + 150 G + 29 B) / 256 of each neighbour (exact),
    // the correction ((Y3 w3 + Y2 w2) + Y1 w1) + Y0 w0 + 0.5 rounded to
    // float, each channel float(sum / 4 + correction), clamped to 0..255 and
    // truncated. Every value is what the one-window estimate computes.
    void estimate(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity], int first) const {
        const D quarter = Lanes::set(0.25);
        D blue = Lanes::set(0.0), green = blue, red = blue;
        D term[4];
        for (int j = 0; j < 4; ++j) {
            const typename Lanes::I n = Lanes::loadPixels(&batch.neighbor[j][first]);
            const D b0 = Lanes::byteOf(n, 0), g0 = Lanes::byteOf(n, 8), r0 = Lanes::byteOf(n, 16);
            const D luma = Lanes::add(
                Lanes::add(Lanes::mul(b0, Lanes::set(kLumaBlueShare)), Lanes::mul(g0, Lanes::set(kLumaGreenShare))),
                Lanes::mul(r0, Lanes::set(kLumaRedShare)));
            term[j] = Lanes::mul(luma, Lanes::sub(b[j], quarter));
            blue = Lanes::add(blue, b0);
            green = Lanes::add(green, g0);
            red = Lanes::add(red, r0);
        }
        const D correction = Lanes::roundToFloat(
            Lanes::add(Lanes::add(Lanes::add(Lanes::add(term[3], term[2]), term[1]), term[0]), Lanes::set(0.5)));
        const auto toByte = [&](D sum) {
            const D value = Lanes::roundToFloat(Lanes::add(Lanes::mul(sum, quarter), correction));
            return Lanes::truncate(Lanes::min(Lanes::max(value, Lanes::set(0.0)), Lanes::set(255.0)));
        };
        Lanes::storePixels(&pixels[first], Lanes::pixelsOf(toByte(red), toByte(green), toByte(blue)));
    }
};

// Two vectors of Lanes as one: every operation is issued for both halves
// side by side, so two independent solves overlap their long chains of
// divisions and conversions. Each half computes what Lanes would.
template <typename Lanes>
struct PairedLanes {
    struct D {
        typename Lanes::D lo, hi;
    };
    struct M {
        typename Lanes::M lo, hi;
    };
    struct I {
        typename Lanes::I lo, hi;
    };
    static constexpr int kLanes = 2 * Lanes::kLanes;
    static D set(double v) { return {Lanes::set(v), Lanes::set(v)}; }
    static D add(D x, D y) { return {Lanes::add(x.lo, y.lo), Lanes::add(x.hi, y.hi)}; }
    static D sub(D x, D y) { return {Lanes::sub(x.lo, y.lo), Lanes::sub(x.hi, y.hi)}; }
    static D mul(D x, D y) { return {Lanes::mul(x.lo, y.lo), Lanes::mul(x.hi, y.hi)}; }
    static D div(D x, D y) { return {Lanes::div(x.lo, y.lo), Lanes::div(x.hi, y.hi)}; }
    static D min(D x, D y) { return {Lanes::min(x.lo, y.lo), Lanes::min(x.hi, y.hi)}; }
    static D max(D x, D y) { return {Lanes::max(x.lo, y.lo), Lanes::max(x.hi, y.hi)}; }
    static D abs(D x) { return {Lanes::abs(x.lo), Lanes::abs(x.hi)}; }
    static M greater(D x, D y) { return {Lanes::greater(x.lo, y.lo), Lanes::greater(x.hi, y.hi)}; }
    static M less(D x, D y) { return {Lanes::less(x.lo, y.lo), Lanes::less(x.hi, y.hi)}; }
    static D select(M m, D ifTrue, D ifFalse) {
        return {Lanes::select(m.lo, ifTrue.lo, ifFalse.lo), Lanes::select(m.hi, ifTrue.hi, ifFalse.hi)};
    }
    static M andNot(M x, M y) { return {Lanes::andNot(x.lo, y.lo), Lanes::andNot(x.hi, y.hi)}; }
    static void exchangeWhere(M m, D& x, D& y) {
        Lanes::exchangeWhere(m.lo, x.lo, y.lo);
        Lanes::exchangeWhere(m.hi, x.hi, y.hi);
    }
    static bool none(M m) { return Lanes::none(m.lo) && Lanes::none(m.hi); }
    static D loadWords(const std::int32_t* w) { return {Lanes::loadWords(w), Lanes::loadWords(w + Lanes::kLanes)}; }
    static D roundToFloat(D x) { return {Lanes::roundToFloat(x.lo), Lanes::roundToFloat(x.hi)}; }
    static void storeFloats(float* out, D x) {
        Lanes::storeFloats(out, x.lo);
        Lanes::storeFloats(out + Lanes::kLanes, x.hi);
    }
    static I loadPixels(const TaggedPixel* p) { return {Lanes::loadPixels(p), Lanes::loadPixels(p + Lanes::kLanes)}; }
    static D byteOf(I n, int shift) { return {Lanes::byteOf(n.lo, shift), Lanes::byteOf(n.hi, shift)}; }
    static I truncate(D x) { return {Lanes::truncate(x.lo), Lanes::truncate(x.hi)}; }
    static I pixelsOf(I red, I green, I blue) {
        return {Lanes::pixelsOf(red.lo, green.lo, blue.lo), Lanes::pixelsOf(red.hi, green.hi, blue.hi)};
    }
    static void storePixels(TaggedPixel* p, I x) {
        Lanes::storePixels(p, x.lo);
        Lanes::storePixels(p + Lanes::kLanes, x.hi);
    }
};

// Calls step.template operator()<L>(first) over windows 0 .. count - 1:
// paired vectors while two whole vectors' worth remain, then single ones.
template <typename Lanes, typename Step>
void forLaneGroups(int count, Step&& step) {
    int first = 0;
    for (; first + PairedLanes<Lanes>::kLanes <= count; first += PairedLanes<Lanes>::kLanes)
        step.template operator()<PairedLanes<Lanes>>(first);
    for (; first < count; first += Lanes::kLanes) step.template operator()<Lanes>(first);
}

template <typename Lanes>
void solveBatchWith(const WindowBatch& batch, float (&weights)[4][WindowBatch::kCapacity]) {
    forLaneGroups<Lanes>(batch.count, [&]<typename L>(int first) {
        LaneSolve<L> lanes(batch, first);
        lanes.solve();
        for (int j = 0; j < 4; ++j) L::storeFloats(&weights[j][first], lanes.b[j]);
    });
}

template <typename Lanes>
void estimateBatchWith(const WindowBatch& batch, TaggedPixel (&pixels)[WindowBatch::kCapacity]) {
    forLaneGroups<Lanes>(batch.count, [&]<typename L>(int first) {
        LaneSolve<L> lanes(batch, first);
        lanes.solve();
        lanes.estimate(batch, pixels, first);
    });
}

}  // namespace
}  // namespace crest

#include "engine/edge_estimate.h"

#include <cmath>
#include <cstdint>
#include <utility>

namespace crest {

namespace {

// The normal equations with their rows in pivot order: row i is the row the
// elimination placed at position i. Swapping whole rows instead of indexing
// through an order table lets every index be a constant, so the system lives
// in registers; each row sees the same operations in the same order.
struct NormalSystem {
    double a[4][4];
    float b[4];
};

template <int K>
inline void swapRowTail(NormalSystem& s, int row) {
    for (int c = K; c < 4; ++c) std::swap(s.a[K][c], s.a[row][c]);
    std::swap(s.b[K], s.b[row]);
}

// Columns left of K are zero in rows K..3 and never read again, so only the
// tails move.
template <int K>
inline void eliminateColumn(NormalSystem& s) {
    int best = K;
    double bestMagnitude = std::fabs(s.a[K][K]);
    for (int i = K + 1; i < 4; ++i) {
        const double magnitude = std::fabs(s.a[i][K]);
        if (magnitude > bestMagnitude) {
            bestMagnitude = magnitude;
            best = i;
        }
    }
    if constexpr (K + 1 < 4) if (best == K + 1) swapRowTail<K>(s, K + 1);
    if constexpr (K + 2 < 4) if (best == K + 2) swapRowTail<K>(s, K + 2);
    if constexpr (K + 3 < 4) if (best == K + 3) swapRowTail<K>(s, K + 3);

    if (bestMagnitude < kSmallestPivot) {
        // Nearly singular: direction K gets weight 0 and leaves the solve.
        for (int c = K + 1; c < 4; ++c) s.a[K][c] = 0.0;
        for (int r = 0; r < 4; ++r) s.a[r][K] = 0.0;
        s.a[K][K] = 1.0;
        s.b[K] = 0.0f;
        return;
    }

    const double inverse = 1.0 / s.a[K][K];
    for (int i = K + 1; i < 4; ++i) {
        const double factor = inverse * s.a[i][K];
        s.a[i][K] = 0.0;
        for (int c = K + 1; c < 4; ++c) s.a[i][c] = s.a[i][c] - factor * s.a[K][c];
        s.b[i] = static_cast<float>(static_cast<double>(s.b[i]) - factor * static_cast<double>(s.b[K]));
    }
    s.a[K][K] = 1.0;
    for (int c = K + 1; c < 4; ++c) s.a[K][c] = inverse * s.a[K][c];
    s.b[K] = static_cast<float>(static_cast<double>(s.b[K]) * inverse);
}

template <int K>
inline void substituteColumn(NormalSystem& s) {
    const double solved = s.b[K];
    for (int i = K - 1; i >= 0; --i)
        s.b[i] = static_cast<float>(static_cast<double>(s.b[i]) - solved * s.a[i][K]);
}

}  // namespace

// Every unstored intermediate is a double and every stored value is rounded
// to the type it is declared with; the build forbids contraction into fused
// multiply-adds and x87 extended precision, so each frame is bit-exact on
// every platform. Partial pivoting, ties to the earliest row in pivot order.
void solveEdgeWeights(const MomentRecord& window, float weights[4]) {
    const std::int32_t* w = window.word;
    NormalSystem s = {
        {
            {double(w[0]), double(w[1]), double(w[2]), double(w[3])},
            {double(w[1]), double(w[4]), double(w[5]), double(w[6])},
            {double(w[2]), double(w[5]), double(w[7]), double(w[8])},
            {double(w[3]), double(w[6]), double(w[8]), double(w[9])},
        },
        {float(w[10]), float(w[11]), float(w[12]), float(w[13])},
    };
    eliminateColumn<0>(s);
    eliminateColumn<1>(s);
    eliminateColumn<2>(s);
    eliminateColumn<3>(s);
    substituteColumn<3>(s);
    substituteColumn<2>(s);
    substituteColumn<1>(s);
    for (int j = 0; j < 4; ++j) weights[j] = s.b[j];
}

std::uint32_t channelToByte(float value) {
    if (value <= 0.0f) return 0;
    if (value >= 255.0f) return 255;
    return static_cast<std::uint32_t>(value);
}

namespace {

std::uint32_t byteAt(TaggedPixel pixel, int shift) { return (pixel >> shift) & 0xFFu; }

// (77 R + 150 G + 29 B) / 256 exactly: each factor is a short binary fraction.
double unroundedLuma(TaggedPixel pixel) {
    return (byteAt(pixel, 0) * 0.11328125 + byteAt(pixel, 8) * 0.5859375) + byteAt(pixel, 16) * 0.30078125;
}

float channelValue(const TaggedPixel n[4], int shift, float lumaCorrection) {
    const std::uint32_t sum = byteAt(n[0], shift) + byteAt(n[1], shift) + byteAt(n[2], shift) + byteAt(n[3], shift);
    return static_cast<float>(static_cast<double>(sum) * 0.25 + static_cast<double>(lumaCorrection));
}

}  // namespace

TaggedPixel estimateEdgePixel(const MomentRecord& window, TaggedPixel n0, TaggedPixel n1, TaggedPixel n2,
                              TaggedPixel n3) {
    float x[4];
    solveEdgeWeights(window, x);
    const TaggedPixel n[4] = {n0, n1, n2, n3};
    double departure[4];  // each weight's departure from the plain mean's 0.25
    for (int j = 0; j < 4; ++j) departure[j] = static_cast<double>(x[j]) - 0.25;

    // The 0.5 turns the truncation below into rounding to nearest.
    const float correction = static_cast<float>(
        (((unroundedLuma(n[3]) * departure[3] + unroundedLuma(n[2]) * departure[2]) +
          unroundedLuma(n[1]) * departure[1]) +
         unroundedLuma(n[0]) * departure[0]) +
        0.5);

    const std::uint32_t red = channelToByte(channelValue(n, 16, correction));
    const std::uint32_t green = channelToByte(channelValue(n, 8, correction));
    const std::uint32_t blue = channelToByte(channelValue(n, 0, correction));
    // Unlike tagPixel, no rounding term.
    const std::uint32_t tag = (77 * red + 150 * green + 29 * blue) >> 8;
    return (tag << 24) | (red << 16) | (green << 8) | blue;
}

}  // namespace crest

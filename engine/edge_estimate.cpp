#include "engine/edge_estimate.h"

#include <cmath>
#include <cstdint>
#include <utility>

namespace crest {

// Every unstored intermediate is a double and every stored value is rounded
// to the type it is declared with; the build forbids contraction into fused
// multiply-adds and x87 extended precision, so each frame is bit-exact on
// every platform.
void solveEdgeWeights(const MomentRecord& window, float weights[4]) {
    const std::int32_t* w = window.word;
    double a[4][4] = {
        {double(w[0]), double(w[1]), double(w[2]), double(w[3])},
        {double(w[1]), double(w[4]), double(w[5]), double(w[6])},
        {double(w[2]), double(w[5]), double(w[7]), double(w[8])},
        {double(w[3]), double(w[6]), double(w[8]), double(w[9])},
    };
    float b[4] = {float(w[10]), float(w[11]), float(w[12]), float(w[13])};
    int order[4] = {0, 1, 2, 3};  // rows never move; only their order does

    for (int k = 0; k < 4; ++k) {
        int best = k;
        for (int i = k + 1; i < 4; ++i)
            if (std::fabs(a[order[i]][k]) > std::fabs(a[order[best]][k])) best = i;
        std::swap(order[k], order[best]);
        const int p = order[k];

        if (std::fabs(a[p][k]) < kSmallestPivot) {
            // Nearly singular: direction k gets weight 0 and leaves the solve.
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

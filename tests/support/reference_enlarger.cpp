#include "tests/support/reference_enlarger.h"

#include <algorithm>

#include "engine/edge_estimate.h"

namespace crest::reference {

namespace {

std::uint32_t tagged(std::uint32_t colour) {
    const std::uint32_t r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
    return (colour & 0xFFFFFF) | (((77 * r + 150 * g + 29 * b + 128) / 256) << 24);
}

// Byte by byte, the slow way.
std::uint32_t average(std::uint32_t a, std::uint32_t b) {
    std::uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8)
        result |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) / 2) << shift;
    return result;
}

// Onto the inner frame [2, limit - 2), keeping parity.
int clampToInner(int t, int limit) {
    const int inner = t - 2, innerLimit = limit - 4;
    if (inner < 0) return 2 + (inner % 2 != 0 ? 1 : 0);
    if (inner >= innerLimit) return 2 + innerLimit - 2 + (inner % 2 != 0 ? 1 : 0);
    return t;
}

void collect(const Frame& frame, int x, int y, int level, const Directions& directions, std::vector<Step>& out) {
    x = clampToInner(x, frame.width);
    y = clampToInner(y, frame.height);
    if (level == 0) {
        out.push_back({x, y});
        return;
    }
    const int distance = 1 << (level - 1);
    for (const Step& d : directions)
        collect(frame, x + distance * d.dx, y + distance * d.dy, level - 1, directions, out);
}

}  // namespace

MomentRecord sampleRecord(const Frame& frame, int x, int y, const Directions& directions) {
    int n[4];
    for (int j = 0; j < 4; ++j) n[j] = frame.tag(x + 2 * directions[j].dx, y + 2 * directions[j].dy);
    const int c = std::clamp(frame.tag(x, y), *std::min_element(n, n + 4), *std::max_element(n, n + 4));
    MomentRecord record{};
    int word = 0;
    for (int row = 0; row < 4; ++row)
        for (int column = row; column < 4; ++column) record.word[word++] = n[row] * n[column];
    for (int j = 0; j < 4; ++j) record.word[10 + j] = c * n[j];
    return record;
}

std::vector<Step> windowSamples(const Frame& frame, int x, int y, const Directions& directions) {
    std::vector<Step> samples;
    collect(frame, x, y, 3, directions, samples);
    return samples;
}

MomentRecord windowSum(const Frame& frame, int x, int y, const Directions& directions) {
    MomentRecord sum{};
    for (const Step& sample : windowSamples(frame, x, y, directions)) {
        const MomentRecord record = sampleRecord(frame, sample.dx, sample.dy, directions);
        for (int i = 0; i < MomentRecord::kWords; ++i) sum.word[i] += record.word[i];
    }
    return sum;
}

namespace {

void fillTarget(Frame& frame, int x, int y, const Directions& directions, bool canEstimate) {
    std::uint32_t n[4];
    int t[4];
    for (int j = 0; j < 4; ++j) {
        n[j] = frame.at(x + directions[j].dx, y + directions[j].dy);
        t[j] = static_cast<int>(n[j] >> 24);
    }
    const double mean = (t[0] + t[1] + t[2] + t[3]) / 4.0;
    double variance = 0;
    for (int j = 0; j < 4; ++j) variance += (t[j] - mean) * (t[j] - mean) / 4.0;
    if (variance < 128.0 || !canEstimate) {
        frame.at(x, y) = tagged(average(average(n[0], n[1]), average(n[2], n[3])));
        return;
    }
    frame.at(x, y) = estimateEdgePixel(windowSum(frame, x, y, directions), n[0], n[1], n[2], n[3]);
}

}  // namespace

Frame enlarge(const pictures::Picture& picture) {
    Frame frame;
    frame.width = 2 * picture.width;
    frame.height = 2 * picture.height;
    frame.pixels.assign(static_cast<std::size_t>(frame.width) * frame.height, 0xBAADF00Du);
    const int W = frame.width, H = frame.height;

    for (int y = 0; y < H; y += 2)
        for (int x = 0; x < W; x += 2) frame.at(x, y) = tagged(picture.at(x / 2, y / 2));

    // The ring pixels that no pass overwrites.
    for (int x = 1; x <= W - 3; x += 2) frame.at(x, 0) = average(frame.at(x - 1, 0), frame.at(x + 1, 0));
    for (int y = 1; y <= H - 3; y += 2) frame.at(0, y) = average(frame.at(0, y - 1), frame.at(0, y + 1));
    for (int y = 0; y <= H - 2; y += 2) frame.at(W - 1, y) = frame.at(W - 2, y);
    for (int y = 1; y <= H - 3; y += 2) frame.at(W - 1, y) = average(frame.at(W - 2, y - 1), frame.at(W - 2, y + 1));
    for (int x = 0; x <= W - 2; x += 2) frame.at(x, H - 1) = frame.at(x, H - 2);
    for (int x = 1; x <= W - 3; x += 2) frame.at(x, H - 1) = average(frame.at(x - 1, H - 2), frame.at(x + 1, H - 2));
    frame.at(W - 1, H - 1) = frame.at(W - 2, H - 2);

    const bool canEstimate = W - 4 >= 2 && H - 4 >= 2;
    for (int y = 1; y <= H - 3; y += 2)
        for (int x = 1; x <= W - 3; x += 2) fillTarget(frame, x, y, kDiagonal, canEstimate);
    for (int y = 1; y <= H - 2; ++y)
        for (int x = (y % 2 == 1 ? 2 : 1); x <= (y % 2 == 1 ? W - 2 : W - 3); x += 2)
            fillTarget(frame, x, y, kAxial, canEstimate);
    return frame;
}

}  // namespace crest::reference

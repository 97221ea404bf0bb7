#include "engine/pass_windows.h"

namespace crest {

namespace {

// Entries of a border strip: a level-3 entry reads four entries either side,
// and replication at the strip's inner end must not reach the ones served.
constexpr std::int32_t kStripEntries = 12;

}  // namespace

PassWindows::PassWindows(EnlargerState& state, bool axial, const BandRowKernels& kernels) : kernels_(kernels) {
    const std::int32_t entries = state.innerWidth / 2;
    const std::int32_t strip = entries < kStripEntries ? entries : kStripEntries;
    // Every pass asks for the same room, so a frame grows each storage once.
    std::int32_t* rows[3];
    std::int32_t* left[3];
    std::int32_t* right[3];
    for (int level = 0; level < 3; ++level) {
        const std::int32_t rowWords = WindowBands::ringWords(level, entries);
        const std::int32_t stripWords = WindowBands::ringWords(level, strip);
        // Level 0's storage also holds the diagonal planes, level 1's the
        // axial ones and level 2's their tag rows.
        const std::int32_t planeWords = level == 0   ? WindowPlanes::storageWords(state.innerWidth)
                                        : level == 1 ? AxialPlanes::storageWords(state.innerWidth)
                                                     : TagRows::storageWords(state.innerWidth);
        rows[level] = state.bandStorage(level, rowWords + 2 * stripWords + planeWords);
        left[level] = rows[level] + rowWords;
        right[level] = left[level] + stripWords;
    }
    std::int32_t* const planes = right[axial ? 1 : 0] + WindowBands::ringWords(axial ? 1 : 0, strip);
    std::int32_t* const tags = right[2] + WindowBands::ringWords(2, strip);
    rows_.emplace(state, axial, 0, entries, rows, kernels_);
    if (axial ? !AxialPlanes::cover(state.innerWidth, state.innerHeight)
              : !WindowPlanes::cover(state.innerWidth, state.innerHeight))
        return;
    left_.emplace(state, axial, 0, strip, left, kernels_);
    right_.emplace(state, axial, entries - strip, strip, right, kernels_);
    if (axial)
        axial_.emplace(state, planes, tags, kernels_);
    else
        diagonal_.emplace(state, planes, tags, kernels_);
    rightColumn_ = state.innerWidth / 2;
}

void PassWindows::beginRow(std::int32_t y) {
    y_ = y;
    stripsReady_ = false;
    planeRow_ = (diagonal_ || axial_) && withPlanes([y](auto& planes) { return planes.beginRow(y); });
    if (!planeRow_) rows_->beginRow(y);
}

WindowBands& PassWindows::strip(std::int32_t x) {
    if (!stripsReady_) {
        left_->beginRow(y_);
        right_->beginRow(y_);
        stripsReady_ = true;
    }
    return x < rightColumn_ ? *left_ : *right_;
}

void PassWindows::window(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    if (!planeRow_) {
        rows_->window(x, words, stride);
        return;
    }
    withPlanes([&](auto& planes) {
        if (planes.coverColumns(x, x))
            planes.window(x, words, stride);
        else
            strip(x).window(x, words, stride);
    });
}

bool PassWindows::windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    if (!planeRow_) return rows_->windowFour(x, words, stride);
    return withPlanes([&](auto& planes) {
        if (!planes.coverColumns(x, x + 6)) return false;
        planes.windowFour(x, words, stride);
        return true;
    });
}

}  // namespace crest

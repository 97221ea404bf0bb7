#include "engine/pass_windows.h"

namespace crest {

namespace {

// Entries of a border strip: a level-3 entry reads four entries either side,
// and replication at the strip's inner end must not reach the ones served.
constexpr std::int32_t kStripEntries = 12;

}  // namespace

PassWindows::PassWindows(EnlargerState& state, bool axial) : kernels_(bandRowKernels()) {
    const std::int32_t entries = state.innerWidth / 2;
    const std::int32_t strip = entries < kStripEntries ? entries : kStripEntries;
    // Every pass asks for the same room, so a frame grows each storage once.
    std::int32_t* rows[3];
    std::int32_t* left[3];
    std::int32_t* right[3];
    for (int level = 0; level < 3; ++level) {
        const std::int32_t rowWords = WindowBands::ringWords(level, entries);
        const std::int32_t stripWords = WindowBands::ringWords(level, strip);
        const std::int32_t planeWords = level == 0 ? WindowPlanes::storageWords(state.innerWidth) : 0;
        rows[level] = state.bandStorage(level, rowWords + 2 * stripWords + planeWords);
        left[level] = rows[level] + rowWords;
        right[level] = left[level] + stripWords;
    }
    rows_.emplace(state, axial, 0, entries, rows, kernels_);
    if (axial || !WindowPlanes::cover(state.innerWidth, state.innerHeight)) return;
    left_.emplace(state, axial, 0, strip, left, kernels_);
    right_.emplace(state, axial, entries - strip, strip, right, kernels_);
    planes_.emplace(state, right[0] + WindowBands::ringWords(0, strip), kernels_);
    // Diagonal targets: column x is entry (x - 3) / 2; the planes end at
    // entry entries - 5.
    rightColumn_ = 2 * (entries - 4) + 3;
}

void PassWindows::beginRow(std::int32_t y) {
    y_ = y;
    stripsReady_ = false;
    planeRow_ = planes_ && planes_->beginRow(y);
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
    } else if (planes_->coverColumns(x, x)) {
        planes_->window(x, words, stride);
    } else {
        strip(x).window(x, words, stride);
    }
}

bool PassWindows::windowFour(std::int32_t x, std::int32_t* words, std::ptrdiff_t stride) {
    if (!planeRow_) return rows_->windowFour(x, words, stride);
    if (!planes_->coverColumns(x, x + 6)) return false;
    planes_->windowFour(x, words, stride);
    return true;
}

}  // namespace crest

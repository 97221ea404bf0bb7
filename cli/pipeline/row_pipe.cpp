#include "cli/pipeline/row_pipe.h"

#include <algorithm>
#include <cstring>

#include "cli/base/command_error.h"

namespace crest::cli {

RowPipe::RowPipe(std::int32_t width, std::int32_t height, int planes, std::int32_t capacity)
    : width_(width), height_(height), capacity_(std::max(capacity, 1)) {
    for (int i = 0; i < planes; ++i) ring_.push_back(std::make_unique<FrameBitmap>(width, capacity_));
}

void RowPipe::readRows(std::span<FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width_);
    for (std::int32_t done = 0; done < count;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failed_ || finished_ || written_ > read_; });
        if (failed_) throw PassStopped("the pass before failed");
        if (written_ == read_) throw CommandError("the pass before ended early");
        // Copied under the lock: the writer cannot overwrite rows not yet taken.
        const std::int32_t rows = std::min(count - done, written_ - read_);
        for (std::int32_t r = 0; r < rows; ++r)
            for (std::size_t p = 0; p < ring_.size(); ++p)
                std::memcpy(planes[p]->row(at + done + r), ring_[p]->row((read_ + r) % capacity_), rowBytes);
        read_ += rows;
        done += rows;
        changed_.notify_all();
    }
}

void RowPipe::writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    const std::size_t rowBytes = 4 * static_cast<std::size_t>(width_);
    for (std::int32_t done = 0; done < count;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failed_ || written_ - read_ < capacity_; });
        if (failed_) throw PassStopped("the next pass failed");
        const std::int32_t rows = std::min(count - done, capacity_ - (written_ - read_));
        for (std::int32_t r = 0; r < rows; ++r)
            for (std::size_t p = 0; p < ring_.size(); ++p)
                std::memcpy(ring_[p]->row((written_ + r) % capacity_), planes[p]->row(at + done + r), rowBytes);
        written_ += rows;
        done += rows;
        changed_.notify_all();
    }
}

void RowPipe::finish() {
    const std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

void RowPipe::fail() {
    const std::lock_guard lock(mutex_);
    failed_ = true;
    changed_.notify_all();
}

}  // namespace crest::cli

// Rows handed from one pass of enlargement to the next: the sink of one
// banded enlargement and the source of another, running side by side on two
// threads, with at most `capacity` rows between them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <vector>

#include "cli/hosting/frame_bitmap.h"
#include "cli/pipeline/picture_bands.h"

namespace crest::cli {

// What one side of a pipe throws when the other side failed: not a cause of its own.
class PassStopped : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class RowPipe final : public PictureSink, public PictureSource {
public:
    RowPipe(std::int32_t width, std::int32_t height, int planes, std::int32_t capacity);

    // The reading side: blocks until the rows are there. Throws PassStopped
    // when the writing side failed, CommandError when it ended early.
    std::int32_t width() const override { return width_; }
    std::int32_t height() const override { return height_; }
    int planeCount() const override { return static_cast<int>(ring_.size()); }
    void readRows(std::span<FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;

    // The writing side: blocks while the pipe is full. Throws PassStopped
    // once the reading side has given up.
    void writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;
    void finish() override;

    // Either side that fails calls this, so that the other stops waiting.
    void fail();

private:
    const std::int32_t width_;
    const std::int32_t height_;
    const std::int32_t capacity_;
    std::vector<std::unique_ptr<FrameBitmap>> ring_;  // a plane each; picture row r at r % capacity
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int32_t written_ = 0;  // rows handed in
    std::int32_t read_ = 0;     // rows taken out
    bool finished_ = false;
    bool failed_ = false;
};

}  // namespace crest::cli

// Rows of the enlargement handed from the enlarging thread to libvips's
// encoder, which asks for them through an image's generate function.
#pragma once

#include <vips/vips.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace crest::cli {

// Encoders that read top to bottom (JPEG, TIFF) are kept a window of rows;
// the others take the whole picture and are kept every row.
class RowStore {
public:
    RowStore(std::size_t rowBytes, bool keepAll) : rowBytes_(rowBytes), keepAll_(keepAll) {}

    // Waits for room. False once the encoder has ended.
    bool push(const std::uint8_t* rows, std::int32_t count);
    // No more rows; the encoder's requests beyond them fail.
    void close();
    void encoderEnded();

    // libvips's generate function: copies the rows of the region asked for.
    static int generate(VipsRegion* out, void*, void* store, void*, gboolean*);

private:
    static constexpr std::int32_t kWindowRows = 512;

    int fill(VipsRegion* out);

    const std::size_t rowBytes_;
    const bool keepAll_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> rows_;  // rows from first_ on
    std::int32_t first_ = 0;
    std::int32_t produced_ = 0;
    std::int32_t wanted_ = 0;
    bool closed_ = false;
    bool encoderEnded_ = false;
};

}  // namespace crest::cli

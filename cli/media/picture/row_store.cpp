#include "cli/media/picture/row_store.h"

#include <algorithm>
#include <cstring>

namespace crest::cli {

bool RowStore::push(const std::uint8_t* rows, std::int32_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
        return encoderEnded_ || keepAll_ || produced_ - first_ < kWindowRows || wanted_ > produced_;
    });
    if (encoderEnded_) return false;
    for (std::int32_t r = 0; r < count; ++r)
        rows_.emplace_back(rows + rowBytes_ * static_cast<std::size_t>(r),
                           rows + rowBytes_ * static_cast<std::size_t>(r + 1));
    produced_ += count;
    changed_.notify_all();
    return true;
}

void RowStore::close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

void RowStore::encoderEnded() {
    const std::lock_guard lock(mutex_);
    encoderEnded_ = true;
    changed_.notify_all();
}

int RowStore::generate(VipsRegion* out, void*, void* store, void*, gboolean*) {
    return static_cast<RowStore*>(store)->fill(out);
}

int RowStore::fill(VipsRegion* out) {
    const VipsRect& rect = out->valid;
    const std::int32_t bottom = rect.top + rect.height;
    std::unique_lock lock(mutex_);
    wanted_ = std::max(wanted_, bottom);
    changed_.notify_all();
    changed_.wait(lock, [&] { return closed_ || produced_ >= bottom; });
    if (produced_ < bottom || rect.top < first_) {
        vips_error("crestdoubler", "%s",
                   produced_ < bottom ? "the enlargement ended early" : "the encoder asked for rows out of order");
        return -1;
    }
    const std::size_t bands = rowBytes_ / static_cast<std::size_t>(out->im->Xsize);
    for (std::int32_t y = rect.top; y < bottom; ++y)
        std::memcpy(VIPS_REGION_ADDR(out, rect.left, y),
                    rows_[static_cast<std::size_t>(y - first_)].data() + bands * static_cast<std::size_t>(rect.left),
                    bands * static_cast<std::size_t>(rect.width));
    if (!keepAll_) {
        while (first_ < rect.top) {
            rows_.pop_front();
            ++first_;
        }
        changed_.notify_all();
    }
    return 0;
}

}  // namespace crest::cli

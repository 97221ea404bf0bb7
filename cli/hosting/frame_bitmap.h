// The command's own HostBitmap: a frame of 32-bit pixels in memory.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "host/host_interface.h"

namespace crest {

class FrameBitmap final : public HostBitmap {
public:
    // rowPadding adds unused bytes at the end of each row; bottomUp stores the
    // rows last to first, giving a negative pitch.
    FrameBitmap(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t rowPadding = 0,
                bool bottomUp = false)
        : rowPadding_(rowPadding), bottomUp_(bottomUp) {
        width = frameWidth;
        height = frameHeight;
        allocate();
    }
    FrameBitmap(const FrameBitmap&) = delete;
    FrameBitmap& operator=(const FrameBitmap&) = delete;

    // Distinct for every bitmap the process makes: a bitmap made where one
    // was destroyed has its address, not its identity.
    std::uint64_t identity() const { return identity_; }

    // Called by the module after it has changed width and height.
    std::int32_t notifySizeChanged() override {
        ++sizeNotifications_;
        allocate();
        return 0;
    }

    // Clipped to the bitmap once, then filled a row at a time.
    void fillRectangle(std::int32_t left, std::int32_t top, std::int32_t fillWidth, std::int32_t fillHeight,
                       std::uint32_t value) override {
        ++fills_;
        const std::int64_t x0 = std::max<std::int64_t>(left, 0);
        const std::int64_t y0 = std::max<std::int64_t>(top, 0);
        const std::int64_t x1 = std::min<std::int64_t>(std::int64_t{left} + fillWidth, width);
        const std::int64_t y1 = std::min<std::int64_t>(std::int64_t{top} + fillHeight, height);
        if (x0 >= x1 || y0 >= y1) return;
        std::uint8_t rowPattern[4];
        std::memcpy(rowPattern, &value, sizeof value);
        for (std::int64_t y = y0; y < y1; ++y) {
            std::uint8_t* pixel = address(static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y));
            for (std::int64_t x = x0; x < x1; ++x, pixel += 4) std::memcpy(pixel, rowPattern, 4);
        }
    }

    std::uint32_t get(std::int32_t x, std::int32_t y) const {
        std::uint32_t pixel;
        std::memcpy(&pixel, address(x, y), sizeof pixel);
        return pixel;
    }
    void set(std::int32_t x, std::int32_t y, std::uint32_t pixel) { std::memcpy(address(x, y), &pixel, sizeof pixel); }

    std::uint8_t* row(std::int32_t y) { return address(0, y); }
    const std::uint8_t* row(std::int32_t y) const { return address(0, y); }

    int sizeNotifications() const { return sizeNotifications_; }
    int fills() const { return fills_; }

    // Whether pixels and pitch describe storage for the current width and
    // height; false when the fields were changed without a size notification.
    bool storageMatchesSize() const {
        const std::int64_t rowBytes = 4 * static_cast<std::int64_t>(width > 0 ? width : 0) + rowPadding_;
        return width > 0 && height > 0 && pixels != nullptr && (pitch < 0 ? -pitch : pitch) == rowBytes &&
               static_cast<std::int64_t>(storage_.size()) == rowBytes * height;
    }

    // Pixels of the rows, first to last, as one block; only for top-down
    // bitmaps without row padding.
    std::uint8_t* contiguousPixels() { return storage_.data(); }
    const std::uint8_t* contiguousPixels() const { return storage_.data(); }
    std::size_t contiguousBytes() const { return storage_.size(); }
    bool isContiguous() const { return rowPadding_ == 0 && !bottomUp_; }

private:
    void allocate() {
        const std::int64_t rowBytes = 4 * static_cast<std::int64_t>(width > 0 ? width : 0) + rowPadding_;
        const std::int64_t rows = height > 0 ? height : 0;
        storage_.assign(static_cast<std::size_t>(rowBytes * rows), 0);
        std::uint8_t* first = storage_.empty() ? nullptr : storage_.data();
        if (bottomUp_ && first != nullptr) {
            pixels = first + (rows - 1) * rowBytes;
            pitch = -static_cast<std::int32_t>(rowBytes);
        } else {
            pixels = first;
            pitch = static_cast<std::int32_t>(rowBytes);
        }
    }
    std::uint8_t* address(std::int32_t x, std::int32_t y) const {
        return static_cast<std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(y) * pitch +
               4 * static_cast<std::ptrdiff_t>(x);
    }

    static std::uint64_t nextIdentity() {
        static std::atomic<std::uint64_t> made{0};
        return ++made;
    }

    const std::uint64_t identity_ = nextIdentity();
    std::int32_t rowPadding_;
    bool bottomUp_;
    std::vector<std::uint8_t> storage_;
    int sizeNotifications_ = 0;
    int fills_ = 0;
};

}  // namespace crest

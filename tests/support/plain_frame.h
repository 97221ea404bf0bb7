// A frame of 32-bit pixels in memory, with optional row padding and bottom-up
// rows, handed to the engine as a FrameView.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/frame_driver.h"

namespace crest::testing {

class PlainFrame {
public:
    PlainFrame(std::int32_t frameWidth, std::int32_t frameHeight, std::int32_t rowPadding = 0, bool bottomUp = false)
        : width(frameWidth), height(frameHeight) {
        const std::ptrdiff_t rowBytes = 4 * static_cast<std::ptrdiff_t>(width) + rowPadding;
        storage_.assign(static_cast<std::size_t>(rowBytes * height), 0);
        pixels = storage_.data() + (bottomUp && height > 0 ? (height - 1) * rowBytes : 0);
        pitch = static_cast<std::int32_t>(bottomUp ? -rowBytes : rowBytes);
    }
    PlainFrame(const PlainFrame&) = delete;
    PlainFrame& operator=(const PlainFrame&) = delete;

    std::uint32_t get(std::int32_t x, std::int32_t y) const {
        std::uint32_t pixel;
        std::memcpy(&pixel, address(x, y), sizeof pixel);
        return pixel;
    }
    void set(std::int32_t x, std::int32_t y, std::uint32_t pixel) { std::memcpy(address(x, y), &pixel, sizeof pixel); }
    std::uint8_t* row(std::int32_t y) { return address(0, y); }
    const std::uint8_t* row(std::int32_t y) const { return address(0, y); }

    FrameView view() { return {pixels, width, height, pitch}; }
    ConstFrameView view() const { return {pixels, width, height, pitch}; }

    std::int32_t width;
    std::int32_t height;
    std::uint8_t* pixels;
    std::int32_t pitch;

private:
    std::uint8_t* address(std::int32_t x, std::int32_t y) const {
        return pixels + static_cast<std::ptrdiff_t>(y) * pitch + 4 * static_cast<std::ptrdiff_t>(x);
    }
    std::vector<std::uint8_t> storage_;
};

}  // namespace crest::testing

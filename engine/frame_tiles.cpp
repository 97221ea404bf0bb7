#include "engine/frame_tiles.h"

#include <algorithm>

namespace crest {

namespace {

FrameTile tileAround(const SourceRect& own, std::int32_t width, std::int32_t height) {
    const std::int32_t left = std::max(own.x - kTileHalo, 0);
    const std::int32_t top = std::max(own.y - kTileHalo, 0);
    const std::int32_t right = std::min(own.x + own.width + kTileHalo, width);
    const std::int32_t bottom = std::min(own.y + own.height + kTileHalo, height);
    return {own, {left, top, right - left, bottom - top}};
}

}  // namespace

std::vector<FrameTile> frameTiles(std::int32_t width, std::int32_t height, std::int32_t tileWidth,
                                  std::int32_t tileHeight) {
    std::vector<FrameTile> tiles;
    tileWidth = std::max(tileWidth, 1);
    tileHeight = std::max(tileHeight, 1);
    for (std::int32_t y = 0; y < height; y += tileHeight)
        for (std::int32_t x = 0; x < width; x += tileWidth)
            tiles.push_back(tileAround({x, y, std::min(tileWidth, width - x), std::min(tileHeight, height - y)}, width,
                                       height));
    return tiles;
}

std::vector<FrameTile> frameStrips(std::int32_t width, std::int32_t height, std::int32_t count, std::int32_t minRows,
                                   std::int32_t maxRows) {
    if (width < 1 || height < 1) return {};
    std::int32_t strips = std::clamp(count, 1, std::max(height / std::max(minRows, 1), 1));
    strips = std::max(strips, (height + maxRows - 1) / std::max(maxRows, 1));
    // Equal shares, the first ones a row longer.
    std::vector<FrameTile> tiles;
    std::int32_t y = 0;
    for (std::int32_t i = 0; i < strips; ++i) {
        const std::int32_t rows = height / strips + (i < height % strips ? 1 : 0);
        tiles.push_back(tileAround({0, y, width, rows}, width, height));
        y += rows;
    }
    return tiles;
}

FrameTile stripForRows(std::int32_t width, std::int32_t height, std::int32_t top, std::int32_t bottom) {
    const std::int32_t first = top / 2;
    return tileAround({0, first, width, (bottom + 1) / 2 - first}, width, height);
}

}  // namespace crest

// Tiles enlarged on their own, halo included, against the whole frame.
#include <gtest/gtest.h>

#include <utility>

#include "engine/enlarger.h"
#include "engine/frame_tiles.h"
#include "tests/support/frame_helpers.h"

namespace crest {
namespace {

using pictures::Content;

// Enlarges every tile's halo region by itself and keeps its own part.
std::vector<std::uint32_t> enlargeTiled(const pictures::Picture& picture, const std::vector<FrameTile>& tiles) {
    const std::int32_t width = 2 * picture.width;
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(width) * 2 * picture.height, 0xBAADF00Du);
    EnlargerState state;
    for (const FrameTile& tile : tiles) {
        const SourceRect& region = tile.enlarged;
        const auto* first = reinterpret_cast<const std::uint8_t*>(&picture.pixels[0]) +
                            4 * (static_cast<std::ptrdiff_t>(region.y) * picture.width + region.x);
        testing::PlainFrame out(2 * region.width, 2 * region.height);
        EXPECT_EQ(enlargeFrame(state, out.view(), {first, region.width, region.height, 4 * picture.width}), 0);
        for (std::int32_t y = 2 * tile.own.y; y < 2 * (tile.own.y + tile.own.height); ++y)
            for (std::int32_t x = 2 * tile.own.x; x < 2 * (tile.own.x + tile.own.width); ++x)
                frame[static_cast<std::size_t>(y) * width + x] = out.get(x - 2 * region.x, y - 2 * region.y);
    }
    return frame;
}

TEST(FrameTiles, TiledFramesEqualTheWholeFrameWordForWord) {
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {3, 3}, {1, 40}, {40, 2}, {5, 17},  {19, 19},
                                         {20, 21}, {37, 23}, {64, 48}, {97, 61}, {130, 45}};
    const std::pair<int, int> tileSizes[] = {{1, 1}, {1, 1000}, {1000, 1}, {2, 3}, {3, 2}, {7, 5}, {9, 9},
                                             {10, 19}, {16, 16}, {19, 10}, {33, 7}, {1000, 24}};
    for (const Content content : {Content::natural, Content::noise, Content::strokes})
        for (const auto& [width, height] : sizes) {
            const auto picture =
                pictures::makePicture(content, width, height, static_cast<std::uint64_t>(width * height));
            const auto whole = testing::enlarge(picture);
            ASSERT_EQ(whole.result, 0);
            for (const auto& [tileWidth, tileHeight] : tileSizes) {
                const auto tiles = frameTiles(width, height, tileWidth, tileHeight);
                // Every tile costs a frame of up to 21 x 21 or more: tiny tiles on small frames only.
                if (tiles.size() > 400) continue;
                ASSERT_EQ(enlargeTiled(picture, tiles), whole.pixels)
                    << static_cast<int>(content) << ": " << width << "x" << height << " in tiles of " << tileWidth
                    << "x" << tileHeight;
            }
        }
}

TEST(FrameTiles, StripsCoverTheFrameWithinTheirLimits) {
    struct Case {
        std::int32_t height, count, minRows, maxRows, strips;
    };
    const Case cases[] = {{100, 4, 16, 1000, 4}, {100, 8, 16, 1000, 6}, {5, 3, 16, 1000, 1}, {100, 1, 1, 30, 4},
                          {7, 7, 1, 1000, 7}};
    for (const Case& c : cases) {
        const auto strips = frameStrips(9, c.height, c.count, c.minRows, c.maxRows);
        ASSERT_EQ(strips.size(), static_cast<std::size_t>(c.strips)) << c.height << " rows for " << c.count;
        std::int32_t next = 0;
        for (const FrameTile& strip : strips) {
            EXPECT_EQ(strip.own.y, next);
            EXPECT_LE(strip.own.height, c.maxRows);
            EXPECT_EQ(strip.enlarged.y, std::max(next - kTileHalo, 0));
            next += strip.own.height;
        }
        EXPECT_EQ(next, c.height);
    }
}

}  // namespace
}  // namespace crest

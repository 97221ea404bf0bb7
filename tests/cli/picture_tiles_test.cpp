// Pictures cut in tiles across instances of the real module, against the whole picture on one instance.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "cli/hosting/filter_host.h"
#include "cli/pipeline/picture_tiles.h"
#include "tests/support/picture_generator.h"

namespace crest::cli {
namespace {

std::unique_ptr<FrameBitmap> planeOf(const pictures::Picture& picture) {
    auto plane = std::make_unique<FrameBitmap>(picture.width, picture.height);
    std::memcpy(plane->contiguousPixels(), picture.pixels.data(), plane->contiguousBytes());
    return plane;
}

std::vector<std::uint8_t> bytesOf(const FrameBitmap& frame) {
    return {frame.contiguousPixels(), frame.contiguousPixels() + frame.contiguousBytes()};
}

TEST(PictureTiles, TilesOnSeveralInstancesGiveTheWholePictureWordForWord) {
    const FilterModule module(CRESTDOUBLER_MODULE);
    FilterInstance single(module);
    PictureTileEnlarger tiled(module, 3);
    struct Case {
        std::int32_t width, height;
        TileShape tile;
    };
    const Case cases[] = {{1, 1, {1, 1}},     {2, 3, {1, 2}},     {23, 5, {4, 3}},    {40, 33, {40, 1}},
                          {40, 33, {1, 33}},  {61, 47, {9, 9}},   {61, 47, {20, 17}}, {130, 70, {130, 21}},
                          {130, 70, {33, 70}}, {200, 150, {64, 48}}};
    for (const Case& c : cases) {
        // The colour, and an alpha plane as the command sends it: grey.
        auto colour = planeOf(pictures::makePicture(pictures::Content::natural, c.width, c.height, c.width));
        auto alpha = planeOf(pictures::makePicture(pictures::Content::shapes, c.width, c.height, c.height));
        for (std::int32_t y = 0; y < c.height; ++y)
            for (std::int32_t x = 0; x < c.width; ++x) alpha->set(x, y, (alpha->get(x, y) & 0xFF) * 0x010101u);
        FrameBitmap colourOut(0, 0), alphaOut(0, 0);
        FrameBitmap* planes[] = {colour.get(), alpha.get()};
        FrameBitmap* destinations[] = {&colourOut, &alphaOut};
        tiled.enlarge(planes, destinations, c.tile);
        EXPECT_EQ(bytesOf(colourOut), bytesOf(single.enlarge(*colour, 1)))
            << c.width << "x" << c.height << " in tiles of " << c.tile.width << "x" << c.tile.height;
        EXPECT_EQ(bytesOf(alphaOut), bytesOf(single.enlarge(*alpha, 1)))
            << "alpha of " << c.width << "x" << c.height << " in tiles of " << c.tile.width << "x" << c.tile.height;
    }
}

TEST(PictureTiles, ShapesKeepEveryInstanceBusyWithinTheLargestFrame) {
    struct Case {
        std::int32_t width, height;
        int instances;
        TileShape expected;
    };
    const Case cases[] = {{3840, 2160, 1, {3840, 2160}}, {3840, 2160, 2, {3840, 540}}, {100, 100, 4, {100, 100}},
                          {40000, 9000, 1, {13334, 8172}},   {16384, 300, 8, {8192, 128}}};
    for (const Case& c : cases) {
        const TileShape shape = pictureTileShape(c.width, c.height, c.instances);
        EXPECT_EQ(shape.width, c.expected.width) << c.width << "x" << c.height << " on " << c.instances;
        EXPECT_EQ(shape.height, c.expected.height) << c.width << "x" << c.height << " on " << c.instances;
    }
}

}  // namespace
}  // namespace crest::cli

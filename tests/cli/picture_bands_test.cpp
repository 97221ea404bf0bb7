// Pictures enlarged band by band and tile by tile on a pool of the real
// module's instances, against the whole picture on one instance.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <memory>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/hosting/filter_host.h"
#include "cli/pipeline/instance_pool.h"
#include "cli/pipeline/picture_bands.h"
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

// Whole planes handed out row by row, checking that rows are asked for in order.
class PlanesSource final : public PictureSource {
public:
    explicit PlanesSource(std::vector<FrameBitmap*> planes) : planes_(std::move(planes)) {}
    std::int32_t width() const override { return planes_[0]->width; }
    std::int32_t height() const override { return planes_[0]->height; }
    int planeCount() const override { return static_cast<int>(planes_.size()); }
    void readRows(std::span<FrameBitmap* const> into, std::int32_t at, std::int32_t count) override {
        if (failAtRow_ >= next_ && failAtRow_ < next_ + count) throw CommandError("row " + std::to_string(failAtRow_));
        for (std::size_t p = 0; p < planes_.size(); ++p)
            for (std::int32_t r = 0; r < count; ++r)
                std::memcpy(into[p]->row(at + r), planes_[p]->row(next_ + r), 4 * static_cast<std::size_t>(width()));
        next_ += count;
    }
    std::int32_t rowsRead() const { return next_; }
    void failAt(std::int32_t row) { failAtRow_ = row; }

private:
    std::vector<FrameBitmap*> planes_;
    std::int32_t next_ = 0;
    std::int32_t failAtRow_ = -1;
};

class PlanesSink final : public PictureSink {
public:
    PlanesSink(std::int32_t width, std::int32_t height, int planes) {
        for (int p = 0; p < planes; ++p) planes_.push_back(std::make_unique<FrameBitmap>(width, height));
    }
    void writeRows(std::span<const FrameBitmap* const> from, std::int32_t at, std::int32_t count) override {
        for (std::size_t p = 0; p < planes_.size(); ++p)
            for (std::int32_t r = 0; r < count; ++r)
                std::memcpy(planes_[p]->row(next_ + r), from[p]->row(at + r),
                            4 * static_cast<std::size_t>(from[p]->width));
        next_ += count;
    }
    void finish() override { finished = true; }
    const FrameBitmap& plane(int p) const { return *planes_[static_cast<std::size_t>(p)]; }
    bool finished = false;

private:
    std::vector<std::unique_ptr<FrameBitmap>> planes_;
    std::int32_t next_ = 0;
};

TEST(PictureBands, BandsAndTilesOnAPoolGiveTheWholePictureWordForWord) {
    const FilterModule module(CRESTDOUBLER_MODULE);
    FilterInstance single(module);
    InstancePool pool(module, 3);
    struct Case {
        std::int32_t width, height;
        BandShape shape;
    };
    const Case cases[] = {{1, 1, {1, 1}},      {2, 3, {1, 2}},       {23, 5, {4, 3}},     {40, 33, {40, 1}},
                          {40, 33, {1, 33}},   {61, 47, {9, 9}},     {61, 47, {20, 17}},  {130, 70, {130, 21}},
                          {130, 70, {33, 70}}, {200, 150, {64, 48}}, {90, 300, {90, 11}}, {64, 64, {64, 12}}};
    for (const Case& c : cases) {
        // The colour, and an alpha plane as the command sends it: grey.
        auto colour = planeOf(pictures::makePicture(pictures::Content::natural, c.width, c.height, c.width));
        auto alpha = planeOf(pictures::makePicture(pictures::Content::shapes, c.width, c.height, c.height));
        for (std::int32_t y = 0; y < c.height; ++y)
            for (std::int32_t x = 0; x < c.width; ++x) alpha->set(x, y, (alpha->get(x, y) & 0xFF) * 0x010101u);
        PlanesSource source({colour.get(), alpha.get()});
        PlanesSink sink(2 * c.width, 2 * c.height, 2);
        enlargePicture(source, sink, pool, c.shape);
        const auto label = ::testing::Message() << c.width << "x" << c.height << " in tiles of " << c.shape.tileWidth
                                                << "x" << c.shape.bandRows;
        EXPECT_TRUE(sink.finished) << label;
        EXPECT_EQ(source.rowsRead(), c.height) << label;
        EXPECT_EQ(bytesOf(sink.plane(0)), bytesOf(single.enlarge(*colour, 1))) << label;
        EXPECT_EQ(bytesOf(sink.plane(1)), bytesOf(single.enlarge(*alpha, 1))) << "alpha of " << label;
    }
}

// The pictures of a folder come and go on the same instances, so a band's
// destination may be made where an earlier picture's was destroyed.
TEST(PictureBands, ADestinationMadeWhereAnotherWasDestroyedIsSizedAnew) {
    const FilterModule module(CRESTDOUBLER_MODULE);
    FilterInstance instance(module);
    const auto source = planeOf(pictures::makePicture(pictures::Content::natural, 24, 16, 5));
    const std::vector<std::uint8_t> expected = bytesOf(instance.enlarge(*source, 1));
    alignas(FrameBitmap) std::byte place[sizeof(FrameBitmap)];
    for (int round = 0; round < 2; ++round) {
        auto* destination = new (place) FrameBitmap(0, 0);
        instance.enlargeInto(*source, *destination, 1);
        EXPECT_EQ(bytesOf(*destination), expected) << "round " << round;
        destination->~FrameBitmap();
    }
}

TEST(PictureBands, AFailedReadStopsThePictureUnfinished) {
    const FilterModule module(CRESTDOUBLER_MODULE);
    InstancePool pool(module, 2);
    auto colour = planeOf(pictures::makePicture(pictures::Content::natural, 50, 80, 50));
    PlanesSource source({colour.get()});
    source.failAt(57);
    PlanesSink sink(100, 160, 1);
    EXPECT_THROW(enlargePicture(source, sink, pool, {50, 10}), CommandError);
    EXPECT_FALSE(sink.finished);
}

TEST(PictureBands, ShapesKeepEveryInstanceBusyWithinTheLargestFrame) {
    struct Case {
        std::int32_t width, height;
        int instances;
        BandShape expected;
    };
    const Case cases[] = {{3840, 2160, 1, {3840, 546}},  {3840, 2160, 2, {3840, 540}}, {100, 100, 4, {100, 100}},
                          {640, 480, 2, {640, 128}},     {40000, 90000, 1, {13334, 128}},
                          {1000, 100000, 8, {1000, 2097}}};
    for (const Case& c : cases) {
        const BandShape shape = pictureBandShape(c.width, c.height, c.instances);
        EXPECT_EQ(shape.tileWidth, c.expected.tileWidth) << c.width << "x" << c.height << " on " << c.instances;
        EXPECT_EQ(shape.bandRows, c.expected.bandRows) << c.width << "x" << c.height << " on " << c.instances;
    }
}

}  // namespace
}  // namespace crest::cli

// PNG image data deflated in stripes: the pixels come back, whatever the stripes and their order.
#include <gtest/gtest.h>
#include <vips/vips.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/media/picture/png_row_filters.h"
#include "cli/media/picture/png_stripes.h"
#include "tests/support/picture_generator.h"

namespace crest::cli {
namespace {

std::string savedByLibrary(std::vector<std::uint8_t>& samples, std::int32_t width, std::int32_t height, int bands) {
    VipsImage* image =
        vips_image_new_from_memory(samples.data(), samples.size(), width, height, bands, VIPS_FORMAT_UCHAR);
    void* data = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(vips_pngsave_buffer(image, &data, &size, nullptr), 0) << vips_error_buffer();
    g_object_unref(image);
    std::string png(static_cast<const char*>(data), size);
    g_free(data);
    return png;
}

std::vector<std::uint8_t> decoded(const std::string& png) {
    VipsImage* image = vips_image_new_from_buffer(png.data(), png.size(), "[fail_on=warning]", nullptr);
    EXPECT_NE(image, nullptr) << vips_error_buffer();
    if (image == nullptr) return {};
    std::size_t size = 0;
    void* pixels = vips_image_write_to_memory(image, &size);
    std::vector<std::uint8_t> out(static_cast<std::uint8_t*>(pixels), static_cast<std::uint8_t*>(pixels) + size);
    g_free(pixels);
    g_object_unref(image);
    return out;
}

// The zlib stream of the IDAT chunks, inflated with its checksum checked.
int inflateImageData(const std::string& png, std::size_t filteredBytes) {
    std::string stream;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const auto* b = reinterpret_cast<const unsigned char*>(png.data() + at);
        const std::size_t length = (std::size_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
        if (png.compare(at + 4, 4, "IDAT") == 0) stream.append(png, at + 8, length);
        at += length + 12;
    }
    std::vector<Bytef> filtered(filteredBytes);
    uLongf size = filtered.size();
    const int status = uncompress(filtered.data(), &size, reinterpret_cast<const Bytef*>(stream.data()), stream.size());
    return status == Z_OK && size == filteredBytes ? Z_OK : status;
}

// The IDAT chunks of a whole picture's rows. Stripes are deflated in the
// order given, each thread reusing its buffers from one stripe to the next.
std::string imageDataOf(const std::vector<std::uint8_t>& samples, std::int32_t width, std::int32_t height, int bands,
                        std::size_t stripeBytes, bool lastFirst) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(bands);
    const std::int32_t rowsEach = pngStripeRows(rowBytes, stripeBytes);
    const std::size_t count = static_cast<std::size_t>((height + rowsEach - 1) / rowsEach);
    std::vector<PngStripe> stripes(count);
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t i = lastFirst ? count - 1 - n : n;
        const std::int32_t y = static_cast<std::int32_t>(i) * rowsEach;
        const std::uint8_t* rows = samples.data() + rowBytes * static_cast<std::size_t>(y);
        stripes[i] = deflatePngStripe(rows, y > 0 ? rows - rowBytes : nullptr, std::min(rowsEach, height - y), rowBytes,
                                      bands, i + 1 == count);
    }
    PngImageDataJoiner joiner;
    std::string chunks;
    for (std::size_t i = 0; i < count; ++i) chunks += joiner.chunkOf(stripes[i], i + 1 == count);
    return chunks;
}

TEST(PngStripes, DecodeToTheSamplesWithTheSameBytesInAnyOrder) {
    ASSERT_EQ(VIPS_INIT("png_stripes_test"), 0);
    struct Case {
        std::int32_t width, height;
        int bands;
        std::size_t stripeBytes;
    };
    const Case cases[] = {{1, 1, 1, 1},     {7, 5, 2, 1},      {64, 33, 3, 100},
                          {64, 33, 4, 1000}, {130, 70, 3, kPngStripeBytes}, {301, 263, 4, 4096}};
    for (const Case& c : cases) {
        const auto picture = pictures::makePicture(pictures::Content::natural, c.width, c.height, c.width);
        std::vector<std::uint8_t> samples;
        for (const std::uint32_t pixel : picture.pixels)
            for (int band = 0; band < c.bands; ++band)
                samples.push_back(static_cast<std::uint8_t>(pixel >> (8 * band)));
        const PngFraming framing = pngFraming(savedByLibrary(samples, c.width, c.height, c.bands), c.height);
        const std::string imageData = imageDataOf(samples, c.width, c.height, c.bands, c.stripeBytes, false);
        EXPECT_EQ(imageDataOf(samples, c.width, c.height, c.bands, c.stripeBytes, true), imageData)
            << c.width << "x" << c.height;
        const std::string oneThread = framing.before + imageData + framing.after;
        EXPECT_EQ(decoded(oneThread), samples) << c.width << "x" << c.height << "x" << c.bands;
        EXPECT_EQ(inflateImageData(oneThread, static_cast<std::size_t>(c.height) * (c.width * c.bands + 1)), Z_OK)
            << c.width << "x" << c.height;
    }
}

// A filtered byte as PNG defines it, with zeros left of the row and above the first.
std::uint8_t plainFiltered(int filter, const std::uint8_t* row, const std::uint8_t* above, std::size_t i,
                           std::size_t bands) {
    const int left = i >= bands ? row[i - bands] : 0;
    const int up = above != nullptr ? above[i] : 0;
    const int upLeft = above != nullptr && i >= bands ? above[i - bands] : 0;
    const int toLeft = std::abs(up - upLeft), toUp = std::abs(left - upLeft),
              toUpLeft = std::abs(left + up - 2 * upLeft);
    const int paeth = toLeft <= toUp && toLeft <= toUpLeft ? left : toUp <= toUpLeft ? up : upLeft;
    const int predictor[] = {0, left, up, (left + up) / 2, paeth};
    return static_cast<std::uint8_t>(row[i] - predictor[filter]);
}

TEST(PngRowFilters, MatchThePlainFiltersAndKeepTheSmallestSum) {
    // Full bytes, and few values near 0 and 128 for ties and wrap-around.
    for (const std::uint8_t mask : {0xFF, 0x81})
        for (int bands = 1; bands <= 4; ++bands)
            for (const std::size_t width : {1, 5, 6, 17, 33, 100}) {
                const std::size_t rowBytes = width * static_cast<std::size_t>(bands);
                const auto noise = pictures::makePicture(pictures::Content::noise, static_cast<std::int32_t>(rowBytes),
                                                         2, rowBytes + mask);
                std::vector<std::uint8_t> rows;
                for (const std::uint32_t pixel : noise.pixels) rows.push_back(static_cast<std::uint8_t>(pixel & mask));
                for (const bool firstRow : {true, false}) {
                    const std::uint8_t* above = firstRow ? nullptr : rows.data();
                    const std::uint8_t* row = rows.data() + rowBytes;
                    std::vector<std::uint8_t> expected[5], out(rowBytes), chosen(rowBytes + 1), scratch(rowBytes);
                    std::uint64_t sums[5] = {};
                    for (int filter = 0; filter < 5; ++filter) {
                        for (std::size_t i = 0; i < rowBytes; ++i) {
                            expected[filter].push_back(plainFiltered(filter, row, above, i, bands));
                            sums[filter] += std::min(expected[filter][i], std::uint8_t(256 - expected[filter][i]));
                        }
                        EXPECT_EQ(
                            filterPngRowWith(static_cast<PngFilter>(filter), row, above, rowBytes, bands, out.data()),
                            sums[filter]);
                        EXPECT_EQ(out, expected[filter]) << "filter " << filter << ", " << width << "x" << bands;
                    }
                    filterPngRow(row, above, rowBytes, bands, chosen.data(), scratch.data());
                    const auto best = std::min_element(sums, sums + 5) - sums;
                    EXPECT_EQ(chosen[0], best) << width << "x" << bands << (firstRow ? ", first row" : "");
                    EXPECT_TRUE(std::equal(chosen.begin() + 1, chosen.end(), expected[best].begin()));
                }
            }
}

}  // namespace
}  // namespace crest::cli

// Writes the bundled sample picture and a 1:1 crop of it before and after enlargement:
//   make_sample_picture FOLDER [CROP_X CROP_Y]
// The picture comes from the test generator, so it is the same on every build.
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/frame_helpers.h"
#include "tests/support/picture_generator.h"

namespace {

constexpr std::int32_t kWidth = 320;
constexpr std::int32_t kHeight = 200;
constexpr std::int32_t kCropWidth = 96;
constexpr std::int32_t kCropHeight = 64;

// 0x..RRGGBB words, row-major, as 8-bit RGB.
bool writeRgbPng(const std::string& path, std::int32_t width, std::int32_t height,
                 const std::vector<std::uint32_t>& pixels) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    std::vector<png_byte> row(3 * static_cast<std::size_t>(width));
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t pixel = pixels[static_cast<std::size_t>(y) * width + x];
            row[3 * x] = static_cast<png_byte>(pixel >> 16);
            row[3 * x + 1] = static_cast<png_byte>(pixel >> 8);
            row[3 * x + 2] = static_cast<png_byte>(pixel);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

std::vector<std::uint32_t> crop(const std::vector<std::uint32_t>& pixels, std::int32_t width, std::int32_t left,
                                std::int32_t top, std::int32_t cropWidth, std::int32_t cropHeight) {
    std::vector<std::uint32_t> result;
    for (std::int32_t y = top; y < top + cropHeight; ++y)
        for (std::int32_t x = left; x < left + cropWidth; ++x)
            result.push_back(pixels[static_cast<std::size_t>(y) * width + x]);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: make_sample_picture FOLDER [CROP_X CROP_Y]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::int32_t cropX = argc == 4 ? std::atoi(argv[2]) : 112;
    const std::int32_t cropY = argc == 4 ? std::atoi(argv[3]) : 68;
    if (cropX < 0 || cropY < 0 || cropX + kCropWidth > kWidth || cropY + kCropHeight > kHeight) {
        std::fprintf(stderr, "make_sample_picture: the crop must lie inside %dx%d\n", kWidth, kHeight);
        return 2;
    }

    const crest::pictures::Picture picture =
        crest::pictures::makePicture(crest::pictures::Content::natural, kWidth, kHeight, 2024);
    const crest::testing::EnlargedFrame enlarged = crest::testing::enlarge(picture);
    if (enlarged.result != 0) {
        std::fprintf(stderr, "make_sample_picture: the engine failed (%d)\n", enlarged.result);
        return 1;
    }
    const bool written =
        writeRgbPng(folder + "/sample.png", kWidth, kHeight, picture.pixels) &&
        writeRgbPng(folder + "/sample-crop-before.png", kCropWidth, kCropHeight,
                    crop(picture.pixels, kWidth, cropX, cropY, kCropWidth, kCropHeight)) &&
        writeRgbPng(folder + "/sample-crop-after.png", 2 * kCropWidth, 2 * kCropHeight,
                    crop(enlarged.pixels, enlarged.width, 2 * cropX, 2 * cropY, 2 * kCropWidth, 2 * kCropHeight));
    if (!written) {
        std::fprintf(stderr, "make_sample_picture: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}

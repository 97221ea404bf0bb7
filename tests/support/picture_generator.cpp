#include "tests/support/picture_generator.h"

#include <algorithm>
#include <cstdlib>

namespace crest::pictures {

namespace {

std::uint32_t rgb(int red, int green, int blue) {
    auto clampByte = [](int v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
    return (clampByte(red) << 16) | (clampByte(green) << 8) | clampByte(blue);
}

int channel(std::uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); }

void paintGradient(Picture& picture) {
    const int w = std::max(picture.width - 1, 1);
    const int h = std::max(picture.height - 1, 1);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            picture.pixels[static_cast<std::size_t>(y) * picture.width + x] =
                rgb(40 + 180 * x / w, 60 + 120 * y / h, 200 - 150 * (x + y) / (w + h));
}

// Filled discs and rectangles with hard edges, in random colours.
void paintShapes(Picture& picture, Random& random, int count) {
    for (int i = 0; i < count; ++i) {
        const std::uint32_t colour = rgb(random.below(256), random.below(256), random.below(256));
        const int cx = static_cast<int>(random.below(static_cast<std::uint32_t>(picture.width)));
        const int cy = static_cast<int>(random.below(static_cast<std::uint32_t>(picture.height)));
        const int size =
            2 +
            static_cast<int>(random.below(static_cast<std::uint32_t>(std::max(picture.width, picture.height) / 4 + 1)));
        const bool disc = random.below(2) == 0;
        for (int y = std::max(0, cy - size); y < std::min(picture.height, cy + size); ++y)
            for (int x = std::max(0, cx - size); x < std::min(picture.width, cx + size); ++x) {
                const int dx = x - cx, dy = y - cy;
                if (!disc || dx * dx + dy * dy <= size * size)
                    picture.pixels[static_cast<std::size_t>(y) * picture.width + x] = colour;
            }
    }
}

// Thin straight strokes between random points, one or two pixels wide.
// Integer stepping only, so every platform draws the same pixels.
void paintStrokes(Picture& picture, Random& random, int count) {
    for (int i = 0; i < count; ++i) {
        const std::uint32_t colour = random.below(2) == 0 ? rgb(20, 20, 30) : rgb(250, 245, 235);
        const int x0 = static_cast<int>(random.below(static_cast<std::uint32_t>(picture.width)));
        const int y0 = static_cast<int>(random.below(static_cast<std::uint32_t>(picture.height)));
        const int x1 = static_cast<int>(random.below(static_cast<std::uint32_t>(picture.width)));
        const int y1 = static_cast<int>(random.below(static_cast<std::uint32_t>(picture.height)));
        const int thickness = 1 + static_cast<int>(random.below(2));
        const int steps = std::max({std::abs(x1 - x0), std::abs(y1 - y0), 1});
        for (int step = 0; step <= steps; ++step) {
            const int x = x0 + (x1 - x0) * step / steps;
            const int y = y0 + (y1 - y0) * step / steps;
            for (int t = 0; t < thickness && x + t < picture.width; ++t)
                picture.pixels[static_cast<std::size_t>(y) * picture.width + x + t] = colour;
        }
    }
}

// A woven, integer-only texture added to what is there.
void addTexture(Picture& picture, int strength) {
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            std::uint32_t& pixel = picture.pixels[static_cast<std::size_t>(y) * picture.width + x];
            const int weave = ((x * 7 + y * 3) % 11) - 5 + (((x / 3) ^ (y / 2)) & 3) * 2;
            const int delta = weave * strength / 5;
            pixel = rgb(channel(pixel, 16) + delta, channel(pixel, 8) + delta, channel(pixel, 0) + delta);
        }
}

void addNoise(Picture& picture, Random& random, int amplitude) {
    for (std::uint32_t& pixel : picture.pixels) {
        const int delta = static_cast<int>(random.below(static_cast<std::uint32_t>(2 * amplitude + 1))) - amplitude;
        pixel = rgb(channel(pixel, 16) + delta, channel(pixel, 8) + delta, channel(pixel, 0) + delta);
    }
}

}  // namespace

Picture makePicture(Content content, std::int32_t width, std::int32_t height, std::uint64_t seed) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    if (picture.pixels.empty()) return picture;
    Random random(seed);
    const int area = width * height;
    switch (content) {
        case Content::flat:
            std::fill(picture.pixels.begin(), picture.pixels.end(), rgb(90, 140, 200));
            break;
        case Content::noise:
            for (std::uint32_t& pixel : picture.pixels) pixel = static_cast<std::uint32_t>(random.next()) & 0xFFFFFF;
            break;
        case Content::gradient:
            paintGradient(picture);
            break;
        case Content::shapes:
            paintShapes(picture, random, 3 + area / 2000);
            break;
        case Content::strokes:
            std::fill(picture.pixels.begin(), picture.pixels.end(), rgb(128, 128, 128));
            paintStrokes(picture, random, 2 + area / 3000);
            break;
        case Content::texture:
            std::fill(picture.pixels.begin(), picture.pixels.end(), rgb(120, 110, 90));
            addTexture(picture, 6);
            break;
        case Content::natural:
            paintGradient(picture);
            paintShapes(picture, random, 2 + area / 6000);
            paintStrokes(picture, random, 1 + area / 8000);
            addTexture(picture, 2);
            addNoise(picture, random, 3);
            break;
    }
    return picture;
}

void scrambleTopBytes(Picture& picture, std::uint64_t seed) {
    Random random(seed);
    for (std::uint32_t& pixel : picture.pixels)
        pixel = (pixel & 0x00FFFFFFu) | (static_cast<std::uint32_t>(random.next()) & 0xFF000000u);
}

}  // namespace crest::pictures

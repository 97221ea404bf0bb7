#include <gtest/gtest.h>

#include "engine/tagged_pixel.h"
#include "tests/support/picture_generator.h"

namespace crest {
namespace {

struct TagCase {
    const char* name;
    std::uint32_t pixel;
    std::uint32_t tag;
};

TEST(TagPixel, GivesTheRoundedLumaOfTheColour) {
    const TagCase cases[] = {
        {"black", 0x00000000, 0},       {"white", 0x00FFFFFF, 255},     {"mid grey", 0x00808080, 128},
        {"pure red", 0x00FF0000, 77},   {"pure green", 0x0000FF00, 149}, {"pure blue", 0x000000FF, 29},
        {"green one", 0x00000100, 1},   {"red one", 0x00010000, 0},
    };
    for (const TagCase& c : cases) {
        EXPECT_EQ(tagPixel(c.pixel) >> 24, c.tag) << c.name;
        EXPECT_EQ(tagPixel(c.pixel) & 0xFFFFFF, c.pixel & 0xFFFFFF) << c.name << ": colour must be kept";
    }
}

TEST(TagPixel, IgnoresTheIncomingTopByte) {
    for (std::uint32_t top : {0x00u, 0x01u, 0x7Fu, 0x80u, 0xFFu}) {
        EXPECT_EQ(tagPixel(top << 24), 0u) << "black with top byte " << top;
        EXPECT_EQ(tagPixel((top << 24) | 0xFFFFFF), 0xFFFFFFFFu) << "white with top byte " << top;
    }
}

TEST(TagPixel, MatchesRoundedFloatingLumaEverywhereOnAGrid) {
    // The fixed-point formula rounds half up; compare with the plain quotient.
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 7) {
                const std::uint32_t pixel = (std::uint32_t(r) << 16) | (std::uint32_t(g) << 8) | std::uint32_t(b);
                const int exact = 77 * r + 150 * g + 29 * b;
                const int rounded = exact / 256 + (exact % 256 >= 128 ? 1 : 0);
                ASSERT_EQ(static_cast<int>(tagPixel(pixel) >> 24), rounded) << r << "," << g << "," << b;
            }
}

struct AverageCase {
    std::uint32_t a, b, expected;
};

TEST(AveragePixels, FloorsEachByteWithoutCarrying) {
    const AverageCase cases[] = {
        {0xFFFFFFFF, 0x00000000, 0x7F7F7F7F},
        {0xFF000001, 0x01000002, 0x80000001},
        {0x1D0000FF, 0x00000001, 0x0E000080},  // tag 14, though the colour's own tag is 15
        {0x12345678, 0x12345678, 0x12345678},
    };
    for (const AverageCase& c : cases) {
        EXPECT_EQ(averagePixels(c.a, c.b), c.expected) << std::hex << c.a << " " << c.b;
        EXPECT_EQ(averagePixels(c.b, c.a), c.expected) << "must be symmetric";
    }
    EXPECT_EQ(tagPixel(0x00000080) >> 24, 15u);
}

TEST(AveragePixels, AgreesWithBytewiseArithmeticOnRandomPairs) {
    pictures::Random random(7);
    for (int i = 0; i < 100000; ++i) {
        const auto a = static_cast<std::uint32_t>(random.next());
        const auto b = static_cast<std::uint32_t>(random.next());
        std::uint32_t expected = 0;
        for (int shift = 0; shift < 32; shift += 8)
            expected |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) / 2) << shift;
        ASSERT_EQ(averagePixels(a, b), expected);
        ASSERT_EQ(averagePixels(a, a), a);
    }
}

}  // namespace
}  // namespace crest

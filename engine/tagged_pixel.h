// 32-bit pixels carrying an 8-bit luma tag in their top byte.
#pragma once

#include <cstdint>
#include <cstring>

namespace crest {

// Blue in the low byte, then green, red, and the luma tag.
using TaggedPixel = std::uint32_t;

// Luma weights over 256, and the same as shares of 1 (exact in binary),
// for every route that forms a tag or a luma value.
inline constexpr std::uint32_t kLumaRed = 77;
inline constexpr std::uint32_t kLumaGreen = 150;
inline constexpr std::uint32_t kLumaBlue = 29;
inline constexpr double kLumaRedShare = kLumaRed / 256.0;
inline constexpr double kLumaGreenShare = kLumaGreen / 256.0;
inline constexpr double kLumaBlueShare = kLumaBlue / 256.0;

constexpr std::uint32_t lumaOfColour(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return (kLumaRed * red + kLumaGreen * green + kLumaBlue * blue + 128) >> 8;
}

// Keeps the colour and replaces the top byte with the colour's rounded luma.
constexpr TaggedPixel tagPixel(TaggedPixel pixel) {
    const std::uint32_t luma = lumaOfColour((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    return (pixel & 0x00FFFFFFu) | (luma << 24);
}

// Byte-wise floor average of all four bytes; the masked shift keeps bytes from
// borrowing from their neighbours.
constexpr TaggedPixel averagePixels(TaggedPixel a, TaggedPixel b) {
    return (a & b) + (((a ^ b) >> 1) & 0x7F7F7F7Fu);
}

constexpr std::uint32_t lumaTag(TaggedPixel pixel) { return pixel >> 24; }

// Host bitmaps promise nothing about alignment, so pixels move through memcpy,
// which compiles to a single load or store.
inline TaggedPixel loadPixel(const std::uint8_t* address) {
    TaggedPixel pixel;
    std::memcpy(&pixel, address, sizeof pixel);
    return pixel;
}

inline void storePixel(std::uint8_t* address, TaggedPixel pixel) {
    std::memcpy(address, &pixel, sizeof pixel);
}

}  // namespace crest

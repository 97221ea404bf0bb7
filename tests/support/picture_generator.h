// Deterministic test pictures: gradients, shapes, strokes, texture and noise.
#pragma once

#include <cstdint>
#include <vector>

namespace crest::pictures {

// 0x00RRGGBB pixels, row-major, width * height of them.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(std::int32_t x, std::int32_t y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

enum class Content {
    natural,  // smooth gradients, sharp shapes and strokes, texture, mild noise
    flat,     // one colour
    noise,    // independent random pixels: nearly every target is active
    gradient,
    shapes,
    strokes,
    texture,
};

// The same arguments always give the same picture, on every platform.
Picture makePicture(Content content, std::int32_t width, std::int32_t height, std::uint64_t seed = 1);

// Fills the top byte of every pixel with random junk, which the engine must ignore.
void scrambleTopBytes(Picture& picture, std::uint64_t seed);

// A small, fast, platform-independent random generator (splitmix64).
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound).
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }

private:
    std::uint64_t state_;
};

}  // namespace crest::pictures

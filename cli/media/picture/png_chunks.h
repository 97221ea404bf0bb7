// PNG's colour chunks, which libvips does not carry, and whether a file's
// chunks are all within it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace crest::cli {

struct PngChunks {
    std::string colour;     // gAMA, cHRM and sRGB chunks as they stand in the file
    bool complete = false;  // every chunk within the file, up to IEND
};

PngChunks scanPngChunks(const std::uint8_t* bytes, std::size_t size);

inline constexpr std::size_t kPngHeaderEnd = 8 + 12 + 13;  // signature and IHDR chunk

}  // namespace crest::cli

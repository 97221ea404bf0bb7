// PNG image data deflated in stripes on several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace crest::cli {

// The IDAT chunks of 8-bit rows (bands samples a pixel, rows one after
// another): each row filtered as libpng's adaptive filtering chooses, the
// stripes of rows deflated at level 3 on up to `threads` threads, each
// ended by a full flush so that the streams join into one zlib stream, and
// the checksums combined. The stripes are cut alike whatever the thread
// count, so the bytes are too.
// About 4 MB of filtered rows a stripe: a fresh window costs little at that length.
inline constexpr std::size_t kPngStripeBytes = 4 << 20;
std::string pngImageData(const std::uint8_t* samples, std::int32_t width, std::int32_t height, int bands, int threads,
                         std::size_t stripeBytes = kPngStripeBytes);

// What goes around the image data of a PNG that libvips wrote: its chunks
// before and after its IDAT chunks, the height in its header set to height.
struct PngFraming {
    std::string before;
    std::string after;
};
PngFraming pngFraming(const std::string& png, std::int32_t height);

}  // namespace crest::cli

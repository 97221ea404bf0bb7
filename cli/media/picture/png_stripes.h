// PNG image data deflated in stripes, which several threads can deflate at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace crest::cli {

// PNG image data of 8-bit rows (bands samples a pixel) in stripes of rows:
// each row filtered as libpng's adaptive filtering chooses, each stripe
// deflated on its own and ended by a full flush, so that the stripes join
// into one zlib stream. Stripes can be deflated on several threads at once;
// the bytes depend only on where the stripes are cut.
// About 4 MB of filtered rows a stripe: a fresh window costs little at that length.
inline constexpr std::size_t kPngStripeBytes = 4 << 20;

// Rows a stripe of rows of rowBytes holds, at least one.
std::int32_t pngStripeRows(std::size_t rowBytes, std::size_t stripeBytes = kPngStripeBytes);

struct PngStripe {
    std::string deflated;     // raw deflate; the last stripe's ends the stream
    std::uint32_t adler = 1;  // checksum of the filtered bytes
    std::size_t length = 0;   // filtered bytes
};

// rowCount rows, rowBytes apart, filtered and deflated. rowAbove is the row
// before the first, null for the picture's first. Thread-safe.
PngStripe deflatePngStripe(const std::uint8_t* rows, const std::uint8_t* rowAbove, std::int32_t rowCount,
                           std::size_t rowBytes, int bands, bool last);

// Puts deflated stripes, taken in order, into IDAT chunks: the first opens
// the zlib stream, the last closes it with the checksum of all the filtered
// bytes.
class PngImageDataJoiner {
public:
    std::string chunkOf(PngStripe& stripe, bool last);

private:
    std::uint32_t adler_ = 1;
    bool first_ = true;
};

// What goes around the image data of a PNG that libvips wrote: its chunks
// before and after its IDAT chunks, the height in its header set to height.
struct PngFraming {
    std::string before;
    std::string after;
};
PngFraming pngFraming(const std::string& png, std::int32_t height);

}  // namespace crest::cli

#include "cli/media/picture/decode_limits.h"

#include <algorithm>

#include "cli/media/picture/png_chunks.h"

namespace crest::cli {

using Id = PictureFormatId;

std::uint64_t leastFileBytes(Id format, const std::uint8_t* bytes, std::size_t size, std::uint64_t width,
                             std::uint64_t height, std::uint64_t bands, const DecodeLimits& limits) {
    if (format == Id::png && size >= kPngHeaderEnd) {
        // Rows of the file's own depth and channels, each with a filter byte.
        static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        const unsigned depth = bytes[24];
        const unsigned colourType = bytes[25];
        const std::uint64_t channels = colourType < 7 ? kChannels[colourType] : 1;
        const std::uint64_t rowBytes = 1 + (width * std::max<std::uint64_t>(channels, 1) * depth + 7) / 8;
        // Deflate packs at most kDenseFileRatio bytes into one.
        return height * rowBytes / kDenseFileRatio;
    }
    if (format == Id::jpeg) {
        // Every 8x8 block of luma has a Huffman-coded DC of at least one bit
        // (arithmetic coding, which libjpeg also reads, is rare enough to
        // be held to the same bound).
        return ((width + 7) / 8) * ((height + 7) / 8) / 8;
    }
    if (width * height <= static_cast<std::uint64_t>(limits.uncheckedPixels)) return 0;
    return width * height * bands / static_cast<std::uint64_t>(kDenseFileRatio);
}

}  // namespace crest::cli

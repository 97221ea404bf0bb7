#include "cli/media/picture/png_chunks.h"

#include "cli/media/picture/picture_sniffing.h"

namespace crest::cli {

PngChunks scanPngChunks(const std::uint8_t* bytes, std::size_t size) {
    PngChunks chunks;
    bool imageData = false;
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint32_t length = bigEndian32(bytes + at);
        if (length > size - at - 12) break;
        const std::string type(reinterpret_cast<const char*>(bytes + at + 4), 4);
        if (type == "IEND") {
            chunks.complete = true;
            break;
        }
        imageData = imageData || type == "IDAT";
        if (!imageData && (type == "gAMA" || type == "cHRM" || type == "sRGB"))
            chunks.colour.append(reinterpret_cast<const char*>(bytes + at), length + 12);
        at += length + 12;
    }
    return chunks;
}

}  // namespace crest::cli

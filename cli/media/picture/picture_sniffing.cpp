#include "cli/media/picture/picture_sniffing.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace crest::cli {

namespace {

using Id = PictureFormatId;

// ISO base media files (HEIF, AVIF, and MP4 films too) name their kind in the
// brands of their first box: the major brand, a version, compatible brands.
const PictureFormat* heifFormatOfBytes(const std::uint8_t* bytes, std::size_t size) {
    if (size < 16 || std::memcmp(bytes + 4, "ftyp", 4) != 0) return nullptr;
    const std::size_t boxEnd = std::min<std::size_t>(size, bigEndian32(bytes));
    bool heif = false;
    for (std::size_t at = 8; at + 4 <= boxEnd; at += at == 8 ? 8 : 4) {
        const std::string_view brand(reinterpret_cast<const char*>(bytes + at), 4);
        if (brand == "avif" || brand == "avis") return &pictureFormatWithId(Id::avif);
        for (const std::string_view still : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
            heif = heif || brand == still;
    }
    return heif ? &pictureFormatWithId(Id::heic) : nullptr;
}

}  // namespace

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           bytes[3];
}

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[3]} << 24) | (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[1]} << 8) |
           bytes[0];
}

bool heifBoxesEndEarly(const std::uint8_t* bytes, std::size_t size) {
    std::size_t at = 0;
    while (size - at >= 8) {
        std::uint64_t length = bigEndian32(bytes + at);
        if (length == 1) {
            if (size - at < 16) return true;
            length = (std::uint64_t{bigEndian32(bytes + at + 8)} << 32) | bigEndian32(bytes + at + 12);
        }
        if (length == 0) return false;  // the last box, to the end of the file
        if (length < 8 || length > size - at) return true;
        at += length;
    }
    return at != size;
}

const PictureFormat* formatOfBytes(const std::uint8_t* bytes, std::size_t size) {
    auto startsWith = [&](const char* magic, std::size_t length, std::size_t at = 0) {
        return size >= at + length && std::memcmp(bytes + at, magic, length) == 0;
    };
    if (startsWith("\x89PNG\r\n\x1a\n", 8)) return &pictureFormatWithId(Id::png);
    if (startsWith("\xff\xd8\xff", 3)) return &pictureFormatWithId(Id::jpeg);
    if (startsWith("RIFF", 4) && startsWith("WEBP", 4, 8)) return &pictureFormatWithId(Id::webp);
    if (startsWith("II*\0", 4) || startsWith("MM\0*", 4) || startsWith("II+\0", 4) || startsWith("MM\0+", 4))
        return &pictureFormatWithId(Id::tiff);
    // A bare codestream, or one in its container.
    if (startsWith("\xff\x0a", 2) || startsWith("\0\0\0\x0cJXL \r\n\x87\n", 12)) return &pictureFormatWithId(Id::jxl);
    if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) return &pictureFormatWithId(Id::gif);
    return heifFormatOfBytes(bytes, size);
}

}  // namespace crest::cli

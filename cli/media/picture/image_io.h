// Pictures in files, in the formats of cli/media/picture/picture_formats.h, through libvips:
// as the frames the module takes, with their alpha and metadata kept aside.
//
// A build without libvips has these functions too; they refuse every picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cli/hosting/frame_bitmap.h"
#include "cli/app/options.h"

namespace crest::cli {

// What a file carries besides its pixels: colour profile, EXIF, XMP, PNG
// colour chunks, resolution. Kept as the library holds it.
class ImageMetadata;

struct StillImage {
    std::unique_ptr<FrameBitmap> colour;  // blue, green, red, 0
    std::unique_ptr<FrameBitmap> alpha;   // alpha as a grey picture, R = G = B; null without alpha
    bool grey = false;                    // one colour channel in the file
    std::shared_ptr<const ImageMetadata> metadata;
    std::string format;  // "PNG", "JPEG", ... for messages
    int pages = 1;       // frames or pages in the file, of which the first was read
};

// Most pixels a side of a picture may have; its enlargement's rows stay
// within a 32-bit pitch.
inline constexpr std::int32_t kMaxPictureSide = 1 << 20;
// Deflate's densest packing, and a little above what the other codecs reach on
// pictures that are not flat.
inline constexpr std::int64_t kDenseFileRatio = 1032;

// Bounds against decompression bombs, checked before any pixel storage is made.
struct DecodeLimits {
    std::int32_t maxWidth = kMaxPictureSide;
    std::int32_t maxHeight = kMaxPictureSide;
    // Beyond this many pixels, a file of a format without a bound of its own
    // must hold a byte per kDenseFileRatio bytes of pixels.
    std::int64_t uncheckedPixels = std::int64_t{kMaxSourceWidth} * kMaxSourceHeight;
};

// Reads and decodes the whole picture. Sizes beyond the limits, and headers
// announcing far more pixels than the file can hold, are refused before any
// pixel storage is made (PNG and JPEG by what their coding can pack into the
// file at any size). Throws CommandError naming the file.
StillImage readStillImage(const std::string& path);
// The same from bytes in memory; name is used in messages.
StillImage decodeStillImage(const std::uint8_t* bytes, std::size_t size, const std::string& name,
                            const DecodeLimits& limits = {});

struct ImageSaveSettings {
    int quality = 92;       // the lossy formats
    bool keepTags = false;  // the luma tag as alpha
    int threads = 1;        // PNG image data is deflated in stripes on these
};

// Encodes colour (and alpha when given and the format holds it) into a
// temporary file beside path and renames it over path when complete.
// metadata, when given, is carried over with the resolution doubled.
// Throws CommandError naming the file.
void writeStillImage(const std::string& path, const FrameBitmap& colour, const FrameBitmap* alpha, bool grey,
                     const ImageMetadata* metadata, const ImageSaveSettings& settings);

// Throws CommandError unless this build writes pictures of the output path's
// format, so that a run stops before enlarging what it cannot write.
void checkPictureOutput(const std::string& path);

// Whether format of an output path holds an alpha channel.
bool formatHoldsAlpha(const std::string& path);

// For --help: the picture formats this build reads and writes.
std::string imageFormatsHelp();

// Starts the image library on first use; shuts it down when destroyed, so
// that leak checkers see its memory returned. One, in main.
class ImageLibraryScope {
public:
    ImageLibraryScope() = default;
    ~ImageLibraryScope();
    ImageLibraryScope(const ImageLibraryScope&) = delete;
    ImageLibraryScope& operator=(const ImageLibraryScope&) = delete;
};

}  // namespace crest::cli

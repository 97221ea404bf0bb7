// Pictures in files, in the formats of cli/media/picture/picture_formats.h, through libvips:
// as the frames the module takes, with their alpha and metadata kept aside.
//
// A build without libvips has these functions too; they refuse every picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <span>
#include <vector>

#include "cli/base/frame_size.h"
#include "cli/hosting/frame_bitmap.h"
#include "cli/media/picture/decode_limits.h"
#include "cli/pipeline/instance_pool.h"
#include "cli/pipeline/picture_bands.h"

namespace crest::cli {

// What a file carries besides its pixels: colour profile, EXIF, XMP, PNG
// colour chunks, resolution. Kept as the library holds it.
class ImageMetadata;

// A picture file decoded row by row as the enlargement asks for the rows:
// only the file's bytes and the decoder's own buffers are held. Sizes beyond
// the limits, and headers announcing far more pixels than the file can hold,
// are refused when it is opened (PNG and JPEG by what their coding can pack
// into the file at any size). Throws CommandError naming the file.
class PictureReader final : public PictureSource {
public:
    static std::unique_ptr<PictureReader> open(const std::string& path);
    // From bytes in memory; name is used in messages.
    PictureReader(std::vector<std::uint8_t> bytes, std::string name, const DecodeLimits& limits = {});
    ~PictureReader() override;
    PictureReader(const PictureReader&) = delete;
    PictureReader& operator=(const PictureReader&) = delete;

    std::int32_t width() const override;
    std::int32_t height() const override;
    // The colour, then the alpha unless there is none or it was left out.
    int planeCount() const override;
    void readRows(std::span<FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;

    bool hasAlpha() const;
    void leaveOutAlpha();
    bool grey() const;  // one colour channel in the file
    int pages() const;  // frames or pages in the file, of which the first is read
    std::shared_ptr<const ImageMetadata> metadata() const;

private:
    struct Decoder;
    std::unique_ptr<Decoder> decoder_;
};

struct PictureWriteSettings {
    int quality = 92;       // the lossy formats
    bool keepTags = false;  // the luma tag as alpha
    bool alpha = false;     // the second plane is an alpha to write
    bool grey = false;      // the picture is grey: written with one colour channel
    // Carried over with the resolution scaled as the pixels are, so that the
    // picture keeps its printed size.
    std::shared_ptr<const ImageMetadata> metadata;
    double xScale = 2;
    double yScale = 2;
    // Reduced to this size from the rows given, with libvips's Lanczos kernel.
    std::optional<FrameSize> target;
};

// Encodes an enlargement of width x height pixels as its rows arrive, into a
// temporary file beside path that finish() renames over path. A PNG's
// image data is deflated in stripes on the pool as rows arrive; JPEG and
// TIFF stream through libvips; the other formats' encoders take the whole
// picture. Throws CommandError naming the file.
class PictureWriter final : public PictureSink {
public:
    PictureWriter(const std::string& path, std::int32_t width, std::int32_t height, PictureWriteSettings settings,
                  InstancePool& pool);
    ~PictureWriter() override;
    PictureWriter(const PictureWriter&) = delete;
    PictureWriter& operator=(const PictureWriter&) = delete;

    void writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) override;
    void finish() override;

    struct Encoder;

private:
    std::unique_ptr<Encoder> encoder_;
};

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

// Pictures read row by row through libvips, as the enlargement asks for them.
#include <vips/vips.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/media/picture/decode_limits.h"
#include "cli/media/picture/image_io.h"
#include "cli/media/picture/image_metadata.h"
#include "cli/media/picture/picture_formats.h"
#include "cli/media/picture/picture_sniffing.h"
#include "cli/media/picture/png_chunks.h"
#include "cli/media/picture/vips_library.h"

namespace crest::cli {

namespace {

using Id = PictureFormatId;

// A file of the right signature that the codec cannot decode: cut short, or damaged.
CommandError damagedInput(const std::string& name, const std::string& formatName) {
    const std::string reason = libraryError();
    const bool cut = reason.find("truncat") != std::string::npos || reason.find("end of") != std::string::npos ||
                     reason.find("Premature") != std::string::npos;
    return CommandError("input " + name + " is a " + (cut ? "truncated " : "corrupt ") + formatName + ": " + reason);
}

VipsImage* loadHeader(const PictureFormat& format, const std::uint8_t* bytes, std::size_t size) {
    // Truncation and errors fail; the JPEG and WebP decoders' warnings mean
    // damaged data, libpng's and libtiff's also come from well-formed files.
    const VipsFailOn failOn = format.id == Id::jpeg || format.id == Id::webp ? VIPS_FAIL_ON_WARNING
                                                                             : VIPS_FAIL_ON_ERROR;
    VipsBlob* blob = vips_blob_new(nullptr, bytes, size);
    VipsImage* image = nullptr;
    const int status = vips_call(operationFor(format, "load").c_str(), blob, &image, "access",
                                 VIPS_ACCESS_SEQUENTIAL, "fail_on", failOn, nullptr);
    vips_area_unref(VIPS_AREA(blob));
    return status == 0 ? image : nullptr;
}

// 8-bit sRGB or grey, with alpha when the file has it.
VipsImage* eightBitPixels(VipsImage* image, bool grey, bool& convertedColours) {
    const VipsInterpretation kind = vips_image_get_interpretation(image);
    convertedColours = kind == VIPS_INTERPRETATION_CMYK || kind == VIPS_INTERPRETATION_LAB ||
                       kind == VIPS_INTERPRETATION_LABS;
    const VipsBandFormat format = vips_image_get_format(image);
    ImageRef current(image);
    g_object_ref(image);
    VipsImage* next = nullptr;
    // Takes the result an operation left in next.
    auto step = [&](int status) {
        current = ImageRef(status == 0 ? std::exchange(next, nullptr) : nullptr);
        return current.image != nullptr;
    };
    if (format == VIPS_FORMAT_USHORT && !convertedColours) {
        // 16-bit samples keep their high byte.
        if (!step(vips_rshift_const1(current.image, &next, 8, nullptr))) return nullptr;
    } else if (format != VIPS_FORMAT_UCHAR || convertedColours) {
        const VipsInterpretation wanted = grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
        if (!step(vips_colourspace(current.image, &next, wanted, nullptr))) return nullptr;
    }
    if (vips_image_get_format(current.image) != VIPS_FORMAT_UCHAR &&
        !step(vips_cast_uchar(current.image, &next, nullptr)))
        return nullptr;
    return std::exchange(current.image, nullptr);
}

}  // namespace

struct PictureReader::Decoder {
    std::vector<std::uint8_t> bytes;  // the loader reads them where they are
    std::string name;
    ImageRef header;
    ImageRef pixels;
    VipsRegion* region = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bands = 0;
    bool grey = false;
    bool hasAlpha = false;
    bool keepAlpha = false;
    int pages = 1;
    std::string formatName;
    std::shared_ptr<const ImageMetadata> metadata;
    std::int32_t nextRow = 0;

    ~Decoder() {
        if (region != nullptr) g_object_unref(region);
    }
};

PictureReader::PictureReader(std::vector<std::uint8_t> fileBytes, std::string name, const DecodeLimits& limits)
    : decoder_(std::make_unique<Decoder>()) {
    startLibrary();
    Decoder& d = *decoder_;
    d.bytes = std::move(fileBytes);
    d.name = std::move(name);
    const std::uint8_t* bytes = d.bytes.data();
    const std::size_t size = d.bytes.size();
    const std::string& name_ = d.name;
    const PictureFormat* const found = formatOfBytes(bytes, size);
    if (found == nullptr) throw CommandError("input " + name_ + " is not a " + pictureFormatNames() + " picture");
    const PictureFormat& format = *found;
    if (!libraryHas(format, "load")) throw missingCodec("input " + name_, format, "load");
    const std::string formatName(format.name);
    const PngChunks pngChunks = format.id == Id::png ? scanPngChunks(bytes, size) : PngChunks{};

    // PNG ends with an IEND chunk, WebP's RIFF header gives its length, HEIF's boxes give theirs.
    const bool endsEarly = (format.id == Id::png && !pngChunks.complete) ||
                           (format.id == Id::webp && size - 8 < littleEndian32(bytes + 4)) ||
                           ((format.id == Id::heic || format.id == Id::avif) && heifBoxesEndEarly(bytes, size));
    if (endsEarly) throw CommandError("input " + name_ + " is a truncated " + formatName + ": it ends early");

    d.header = ImageRef(loadHeader(format, bytes, size));
    if (d.header.image == nullptr) throw damagedInput(name_, formatName);
    const std::int64_t width = vips_image_get_width(d.header.image);
    const std::int64_t height = vips_image_get_height(d.header.image);
    const std::string dimensions = std::to_string(width) + "x" + std::to_string(height);
    if (width > limits.maxWidth || height > limits.maxHeight)
        throw CommandError("input " + name_ + " is " + dimensions + " pixels, larger than the largest picture, " +
                           std::to_string(limits.maxWidth) + "x" + std::to_string(limits.maxHeight));
    // A few bytes announcing a huge picture are refused before its pixels exist.
    const std::uint64_t least =
        leastFileBytes(format.id, bytes, size, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                       static_cast<std::uint64_t>(std::max(vips_image_get_bands(d.header.image), 1)), limits);
    if (size < least && (format.id == Id::png || format.id == Id::jpeg))
        throw CommandError("input " + name_ + " is a truncated " + formatName + ": " + std::to_string(size) +
                           " bytes cannot hold a " + dimensions + " image");
    if (size < least)
        throw CommandError("input " + name_ + " is a " + dimensions + " " + formatName + " in " + std::to_string(size) +
                           " bytes: a picture of over " + std::to_string(limits.uncheckedPixels) +
                           " pixels is read from a file of at least a byte per " + std::to_string(kDenseFileRatio) +
                           " bytes of its pixels");

    const int fileBands = vips_image_get_bands(d.header.image);
    d.hasAlpha = vips_image_hasalpha(d.header.image) != 0;
    d.keepAlpha = d.hasAlpha;
    const VipsInterpretation kind = vips_image_get_interpretation(d.header.image);
    d.grey = kind == VIPS_INTERPRETATION_B_W || kind == VIPS_INTERPRETATION_GREY16 ||
             fileBands - (d.hasAlpha ? 1 : 0) == 1;
    bool convertedColours = false;
    d.pixels = ImageRef(eightBitPixels(d.header.image, d.grey, convertedColours));
    if (d.pixels.image == nullptr)
        throw CommandError("input " + name_ + " has colours this command cannot convert: " + libraryError());
    const int colourBands = d.grey ? 1 : 3;
    d.bands = vips_image_get_bands(d.pixels.image);
    if (d.bands < colourBands + (d.hasAlpha ? 1 : 0))
        throw CommandError("input " + name_ + " has " + std::to_string(d.bands) + " channels, too few for its colours");
    d.region = vips_region_new(d.pixels.image);
    if (d.region == nullptr) throw damagedInput(name_, formatName);
    d.width = static_cast<std::int32_t>(width);
    d.height = static_cast<std::int32_t>(height);
    d.formatName = formatName;
    d.pages = std::max(1, vips_image_get_n_pages(d.header.image));
    d.metadata = std::make_shared<const ImageMetadata>(d.header.image, pngChunks.colour, convertedColours);
}

PictureReader::~PictureReader() = default;

std::unique_ptr<PictureReader> PictureReader::open(const std::string& path) {
    std::FILE* stream = openInputFile(path);
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[1 << 16];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, stream)) > 0;)
        bytes.insert(bytes.end(), block, block + got);
    const bool failed = std::ferror(stream) != 0;
    const int error = errno;
    if (stream != stdin) std::fclose(stream);
    if (failed) throw CommandError("cannot read input " + path + ": " + systemReason(error));
    if (bytes.empty()) throw CommandError("input " + path + " is empty, not a picture");
    return std::make_unique<PictureReader>(std::move(bytes), path);
}

std::int32_t PictureReader::width() const { return decoder_->width; }
std::int32_t PictureReader::height() const { return decoder_->height; }
int PictureReader::planeCount() const { return decoder_->keepAlpha ? 2 : 1; }
bool PictureReader::hasAlpha() const { return decoder_->hasAlpha; }
void PictureReader::leaveOutAlpha() { decoder_->keepAlpha = false; }
bool PictureReader::grey() const { return decoder_->grey; }
int PictureReader::pages() const { return decoder_->pages; }
std::shared_ptr<const ImageMetadata> PictureReader::metadata() const { return decoder_->metadata; }

void PictureReader::readRows(std::span<FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    Decoder& d = *decoder_;
    // The decoder reads ahead in strips of its own; asking for a few rows at a
    // time keeps its region small.
    constexpr std::int32_t kStripRows = 16;
    FrameBitmap& colour = *planes[0];
    FrameBitmap* alpha = d.keepAlpha ? planes[1] : nullptr;
    const int alphaBand = d.bands - 1;
    for (std::int32_t done = 0; done < count;) {
        const std::int32_t rows = std::min(kStripRows, count - done);
        VipsRect rect{0, d.nextRow, d.width, rows};
        if (vips_region_prepare(d.region, &rect) != 0) throw damagedInput(d.name, d.formatName);
        for (std::int32_t r = 0; r < rows; ++r) {
            const auto* sample = reinterpret_cast<const std::uint8_t*>(VIPS_REGION_ADDR(d.region, 0, d.nextRow + r));
            std::uint8_t* colourRow = colour.row(at + done + r);
            std::uint8_t* alphaRow = alpha != nullptr ? alpha->row(at + done + r) : nullptr;
            for (std::int32_t x = 0; x < d.width; ++x, sample += d.bands) {
                const std::uint8_t red = sample[0];
                colourRow[4 * x] = d.grey ? red : sample[2];
                colourRow[4 * x + 1] = d.grey ? red : sample[1];
                colourRow[4 * x + 2] = red;
                colourRow[4 * x + 3] = 0;
                if (alphaRow != nullptr) {
                    std::memset(alphaRow + 4 * x, sample[alphaBand], 3);
                    alphaRow[4 * x + 3] = 0;
                }
            }
        }
        d.nextRow += rows;
        done += rows;
    }
}

}  // namespace crest::cli

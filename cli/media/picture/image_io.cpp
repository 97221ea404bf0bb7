#include "cli/media/picture/image_io.h"

#include <vips/vips.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/app/command_error.h"
#include "cli/app/file_access.h"
#include "cli/app/path_kind.h"
#include "cli/media/picture/picture_formats.h"
#include "cli/media/picture/png_stripes.h"

namespace crest::cli {

namespace {

using Id = PictureFormatId;

const PictureFormat& formatWithId(Id id) {
    for (const PictureFormat& format : pictureFormats())
        if (format.id == id) return format;
    throw std::logic_error("a picture format missing from the list");
}

const PictureFormat* formatOfPath(const std::string& path) { return pictureFormatOfExtension(lowerExtension(path)); }

// "PNG, JPEG, ... or GIF"
std::string formatNames() {
    std::string names;
    const auto formats = pictureFormats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        names += (i == 0 ? "" : i + 1 == formats.size() ? " or " : ", ") + std::string(formats[i].name);
    return names;
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           bytes[3];
}

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[3]} << 24) | (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[1]} << 8) |
           bytes[0];
}

// ISO base media files (HEIF, AVIF, and MP4 films too) name their kind in the
// brands of their first box: the major brand, a version, compatible brands.
const PictureFormat* heifFormatOfBytes(const std::uint8_t* bytes, std::size_t size) {
    if (size < 16 || std::memcmp(bytes + 4, "ftyp", 4) != 0) return nullptr;
    const std::size_t boxEnd = std::min<std::size_t>(size, bigEndian32(bytes));
    bool heif = false;
    for (std::size_t at = 8; at + 4 <= boxEnd; at += at == 8 ? 8 : 4) {
        const std::string_view brand(reinterpret_cast<const char*>(bytes + at), 4);
        if (brand == "avif" || brand == "avis") return &formatWithId(Id::avif);
        for (const std::string_view still : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
            heif = heif || brand == still;
    }
    return heif ? &formatWithId(Id::heic) : nullptr;
}

// Whether the last of a HEIF file's boxes runs past its end.
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
    if (startsWith("\x89PNG\r\n\x1a\n", 8)) return &formatWithId(Id::png);
    if (startsWith("\xff\xd8\xff", 3)) return &formatWithId(Id::jpeg);
    if (startsWith("RIFF", 4) && startsWith("WEBP", 4, 8)) return &formatWithId(Id::webp);
    if (startsWith("II*\0", 4) || startsWith("MM\0*", 4) || startsWith("II+\0", 4) || startsWith("MM\0+", 4))
        return &formatWithId(Id::tiff);
    // A bare codestream, or one in its container.
    if (startsWith("\xff\x0a", 2) || startsWith("\0\0\0\x0cJXL \r\n\x87\n", 12)) return &formatWithId(Id::jxl);
    if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) return &formatWithId(Id::gif);
    return heifFormatOfBytes(bytes, size);
}

// ---- the library

void discardLibraryMessage(const char*, GLogLevelFlags, const char*, gpointer) {}

std::once_flag libraryStarted;
bool libraryRunning = false;

void startLibrary() {
    std::call_once(libraryStarted, [] {
        if (VIPS_INIT("crestdoubler") != 0) throw CommandError("cannot start libvips: " + std::string(vips_error_buffer()));
        libraryRunning = true;
        // Only the formats of the list are ever called, and of the codecs
        // libvips marks as unfit for untrusted files none but libjxl's,
        // which JPEG XL needs (and the fuzz target covers).
        vips_block_untrusted_set(TRUE);
        vips_operation_block_set("VipsForeignLoadJxl", FALSE);
        vips_operation_block_set("VipsForeignSaveJxl", FALSE);
        // Every picture is read and written once: nothing to cache.
        vips_cache_set_max(0);
        // One worker per libvips pipeline: with more, a decoder's failure in
        // one worker is now and then lost and a damaged file (a PNG with a
        // bad chunk checksum) reads as whole. The command runs its own
        // threads: module instances, tiles and PNG stripes.
        vips_concurrency_set(1);
        // The codecs' warnings about well-formed files (a known sRGB profile,
        // an unusual chunk) are not the user's concern; errors still fail.
        g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                              G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                          discardLibraryMessage, nullptr);
    });
}

// The library's error text as one line, and the buffer cleared.
std::string libraryError() {
    std::string text = vips_error_buffer();
    vips_error_clear();
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    for (auto at = text.find("  "); at != std::string::npos; at = text.find("  ")) text.replace(at, 2, "; ");
    return text.empty() ? "the image library gave no reason" : text;
}

struct ImageRef {
    ImageRef() = default;
    explicit ImageRef(VipsImage* image) : image(image) {}
    ~ImageRef() {
        if (image != nullptr) g_object_unref(image);
    }
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
    ImageRef(ImageRef&& other) noexcept : image(std::exchange(other.image, nullptr)) {}
    ImageRef& operator=(ImageRef&& other) noexcept {
        std::swap(image, other.image);
        return *this;
    }
    VipsImage* image = nullptr;
};

struct LibraryBuffer {
    ~LibraryBuffer() { g_free(data); }
    void* data = nullptr;
    std::size_t size = 0;
};

// ---- PNG colour chunks, which libvips does not carry

struct PngChunks {
    std::string colour;     // gAMA, cHRM and sRGB chunks as they stand in the file
    bool complete = false;  // every chunk within the file, up to IEND
};

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

constexpr std::size_t kPngHeaderEnd = 8 + 12 + 13;  // signature and IHDR chunk

// ---- decompression bombs

// The fewest bytes a complete file of this header can have, by its format's
// coding where it gives a useful bound, else by kDenseFileRatio beyond
// limits.uncheckedPixels; 0 when nothing is asked.
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

// A file of the right signature that the codec cannot decode: cut short, or damaged.
CommandError damagedInput(const std::string& name, const std::string& formatName) {
    const std::string reason = libraryError();
    const bool cut = reason.find("truncat") != std::string::npos || reason.find("end of") != std::string::npos ||
                     reason.find("Premature") != std::string::npos;
    return CommandError("input " + name + " is a " + (cut ? "truncated " : "corrupt ") + formatName + ": " + reason);
}

// libvips's loader or saver of a format: "heifload_buffer".
std::string operationFor(const PictureFormat& format, const char* direction) {
    return std::string(format.library) + direction + "_buffer";
}

bool libraryHas(const PictureFormat& format, const char* direction) {
    return vips_type_find("VipsOperation", operationFor(format, direction).c_str()) != 0;
}

// For a format the list knows that this build's libvips was made without.
CommandError missingCodec(const std::string& subject, const PictureFormat& format, const char* direction) {
    return CommandError(subject + " is a " + std::string(format.name) + " picture, and this build's libvips (" +
                        vips_version_string() + ") has no " + operationFor(format, direction) + " to " +
                        (std::string_view(direction) == "load" ? "read" : "write") + " it");
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

// ---- metadata

class ImageMetadata {
public:
    ImageMetadata(VipsImage* header, std::string pngChunks, bool dropProfile)
        : header_(header), pngChunks_(std::move(pngChunks)), dropProfile_(dropProfile) {
        g_object_ref(header_);
    }
    ~ImageMetadata() { g_object_unref(header_); }
    ImageMetadata(const ImageMetadata&) = delete;
    ImageMetadata& operator=(const ImageMetadata&) = delete;

    double xres() const { return header_->Xres; }
    double yres() const { return header_->Yres; }
    const std::string& pngChunks() const { return pngChunks_; }

    // Every field of the source's metadata but those that describe its
    // pixels or the loader, and its profile unless its colours were converted.
    void copyTo(VipsImage* target) const {
        struct Copy {
            VipsImage* target;
            bool dropProfile;
        } copy{target, dropProfile_};
        vips_image_map(
            header_,
            [](VipsImage* image, const char* name, GValue*, void* state) -> void* {
                const auto* copy = static_cast<const Copy*>(state);
                static constexpr const char* kSkipped[] = {
                    "width",   "height",      "bands",      "format",      "coding",        "interpretation",
                    "xoffset", "yoffset",     "xres",       "yres",        "filename",      "vips-loader",
                    "n-pages", "page-height", "interlaced", "bits-per-sample", "palette-bit-depth",
                    "jpeg-multiscan", "jpeg-chroma-subsample", "vips-sequential", "heif-primary"};
                for (const char* skipped : kSkipped)
                    if (std::strcmp(name, skipped) == 0) return nullptr;
                if (copy->dropProfile && std::strcmp(name, VIPS_META_ICC_NAME) == 0) return nullptr;
                GValue value = G_VALUE_INIT;
                if (vips_image_get(image, name, &value) == 0) {
                    vips_image_set(copy->target, name, &value);
                    g_value_unset(&value);
                }
                return nullptr;
            },
            &copy);
    }

private:
    VipsImage* header_;
    std::string pngChunks_;
    bool dropProfile_;
};

ImageLibraryScope::~ImageLibraryScope() {
    if (libraryRunning) vips_shutdown();
}

// ---- reading

StillImage decodeStillImage(const std::uint8_t* bytes, std::size_t size, const std::string& name,
                            const DecodeLimits& limits) {
    startLibrary();
    const PictureFormat* const found = formatOfBytes(bytes, size);
    if (found == nullptr) throw CommandError("input " + name + " is not a " + formatNames() + " picture");
    const PictureFormat& format = *found;
    if (!libraryHas(format, "load")) throw missingCodec("input " + name, format, "load");
    const std::string formatName(format.name);
    const PngChunks pngChunks = format.id == Id::png ? scanPngChunks(bytes, size) : PngChunks{};

    // PNG ends with an IEND chunk, WebP's RIFF header gives its length, HEIF's boxes give theirs.
    const bool endsEarly = (format.id == Id::png && !pngChunks.complete) ||
                           (format.id == Id::webp && size - 8 < littleEndian32(bytes + 4)) ||
                           ((format.id == Id::heic || format.id == Id::avif) && heifBoxesEndEarly(bytes, size));
    if (endsEarly) throw CommandError("input " + name + " is a truncated " + formatName + ": it ends early");

    ImageRef header(loadHeader(format, bytes, size));
    if (header.image == nullptr) throw damagedInput(name, formatName);
    const std::int64_t width = vips_image_get_width(header.image);
    const std::int64_t height = vips_image_get_height(header.image);
    const std::string dimensions = std::to_string(width) + "x" + std::to_string(height);
    if (width > limits.maxWidth || height > limits.maxHeight)
        throw CommandError("input " + name + " is " + dimensions + " pixels, larger than the largest picture, " +
                           std::to_string(limits.maxWidth) + "x" + std::to_string(limits.maxHeight));
    // A few bytes announcing a huge picture are refused before its pixels exist.
    const std::uint64_t least =
        leastFileBytes(format.id, bytes, size, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                       static_cast<std::uint64_t>(std::max(vips_image_get_bands(header.image), 1)), limits);
    if (size < least && (format.id == Id::png || format.id == Id::jpeg))
        throw CommandError("input " + name + " is a truncated " + formatName + ": " + std::to_string(size) +
                           " bytes cannot hold a " + dimensions + " image");
    if (size < least)
        throw CommandError("input " + name + " is a " + dimensions + " " + formatName + " in " + std::to_string(size) +
                           " bytes: a picture of over " + std::to_string(limits.uncheckedPixels) +
                           " pixels is read from a file of at least a byte per " + std::to_string(kDenseFileRatio) +
                           " bytes of its pixels");

    const int bands = vips_image_get_bands(header.image);
    const bool hasAlpha = vips_image_hasalpha(header.image) != 0;
    const VipsInterpretation kind = vips_image_get_interpretation(header.image);
    const bool grey = kind == VIPS_INTERPRETATION_B_W || kind == VIPS_INTERPRETATION_GREY16 ||
                      bands - (hasAlpha ? 1 : 0) == 1;
    bool convertedColours = false;
    ImageRef pixels(eightBitPixels(header.image, grey, convertedColours));
    if (pixels.image == nullptr)
        throw CommandError("input " + name + " has colours this command cannot convert: " + libraryError());
    const int colourBands = grey ? 1 : 3;
    const int outBands = vips_image_get_bands(pixels.image);
    if (outBands < colourBands + (hasAlpha ? 1 : 0))
        throw CommandError("input " + name + " has " + std::to_string(outBands) + " channels, too few for its colours");

    LibraryBuffer decoded;
    decoded.data = vips_image_write_to_memory(pixels.image, &decoded.size);
    if (decoded.data == nullptr) throw damagedInput(name, formatName);

    StillImage image;
    image.format = formatName;
    image.grey = grey;
    image.pages = std::max(1, vips_image_get_n_pages(header.image));
    image.colour = std::make_unique<FrameBitmap>(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    if (hasAlpha)
        image.alpha = std::make_unique<FrameBitmap>(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
    const auto* sample = static_cast<const std::uint8_t*>(decoded.data);
    const int alphaBand = outBands - 1;
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* colourRow = image.colour->row(y);
        std::uint8_t* alphaRow = hasAlpha ? image.alpha->row(y) : nullptr;
        for (std::int32_t x = 0; x < width; ++x, sample += outBands) {
            const std::uint8_t red = sample[0];
            const std::uint8_t green = grey ? red : sample[1];
            const std::uint8_t blue = grey ? red : sample[2];
            colourRow[4 * x] = blue;
            colourRow[4 * x + 1] = green;
            colourRow[4 * x + 2] = red;
            if (alphaRow != nullptr)
                std::memset(alphaRow + 4 * x, sample[alphaBand], 3);
        }
    }
    image.metadata = std::make_shared<const ImageMetadata>(
        header.image, pngChunks.colour, convertedColours);
    return image;
}

StillImage readStillImage(const std::string& path) {
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
    return decodeStillImage(bytes.data(), bytes.size(), path);
}

// ---- writing

bool formatHoldsAlpha(const std::string& path) {
    const PictureFormat* format = formatOfPath(path);
    return format == nullptr || format->holdsAlpha;
}

namespace {

// The format of an output path that this build can write.
const PictureFormat& writableFormatOf(const std::string& path) {
    startLibrary();
    const PictureFormat* format = formatOfPath(path);
    if (format == nullptr) throw CommandError("cannot write " + path + ": not a picture format");
    if (!format->writable)
        throw CommandError("cannot write " + path + ": " + std::string(format->name) +
                           " is read only here; write one of" + pictureExtensionList(true));
    if (!libraryHas(*format, "save")) throw missingCodec("output " + path, *format, "save");
    return *format;
}

bool allGrey(const FrameBitmap& colour) {
    for (std::int32_t y = 0; y < colour.height; ++y) {
        const std::uint8_t* row = colour.row(y);
        for (std::int32_t x = 0; x < colour.width; ++x)
            if (row[4 * x] != row[4 * x + 1] || row[4 * x + 1] != row[4 * x + 2]) return false;
    }
    return true;
}

// Interleaved 8-bit samples: grey or red, green, blue; then alpha or the tag.
std::vector<std::uint8_t> interleave(const FrameBitmap& colour, const FrameBitmap* alpha, bool grey, bool tags) {
    const int bands = (grey ? 1 : 3) + (alpha != nullptr || tags ? 1 : 0);
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(colour.width) * colour.height * bands);
    std::uint8_t* out = samples.data();
    for (std::int32_t y = 0; y < colour.height; ++y) {
        const std::uint8_t* row = colour.row(y);
        const std::uint8_t* alphaRow = alpha != nullptr ? alpha->row(y) : nullptr;
        for (std::int32_t x = 0; x < colour.width; ++x) {
            const std::uint8_t* pixel = row + 4 * x;
            if (grey) {
                *out++ = pixel[1];
            } else {
                *out++ = pixel[2];
                *out++ = pixel[1];
                *out++ = pixel[0];
            }
            // The alpha plane went through the filter as grey: its green is its value.
            if (alphaRow != nullptr) *out++ = alphaRow[4 * x + 1];
            else if (tags) *out++ = pixel[3];
        }
    }
    return samples;
}

int save(Id format, VipsImage* image, LibraryBuffer& buffer, const ImageSaveSettings& settings) {
    switch (format) {
    case Id::png:
        // Level 3 with libpng's adaptive filters: about a third of the time
        // of level 6, files a few percent larger.
        return vips_pngsave_buffer(image, &buffer.data, &buffer.size, "compression", 3, "filter",
                                   VIPS_FOREIGN_PNG_FILTER_ALL, nullptr);
    case Id::jpeg:
        // At quality 90 and above libvips keeps the chroma at full resolution.
        return vips_jpegsave_buffer(image, &buffer.data, &buffer.size, "Q", settings.quality, "optimize_coding", TRUE,
                                    nullptr);
    case Id::webp:
        return vips_webpsave_buffer(image, &buffer.data, &buffer.size, "Q", settings.quality, nullptr);
    case Id::tiff:
        return vips_tiffsave_buffer(image, &buffer.data, &buffer.size, "compression",
                                    VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE, "predictor",
                                    VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL, nullptr);
    case Id::jxl:
        return vips_jxlsave_buffer(image, &buffer.data, &buffer.size, "Q", settings.quality, nullptr);
    case Id::avif:
    case Id::heic:
        // The samples are 8-bit; libvips would otherwise write 12. AV1 at
        // effort 2 takes about a seventh of the time of libvips's 4 for
        // files some 6% larger; x265 takes no notice of it.
        return vips_heifsave_buffer(image, &buffer.data, &buffer.size, "Q", settings.quality, "bitdepth", 8,
                                    "compression",
                                    format == Id::avif ? VIPS_FOREIGN_HEIF_COMPRESSION_AV1
                                                       : VIPS_FOREIGN_HEIF_COMPRESSION_HEVC,
                                    "effort", 2, nullptr);
    case Id::gif: break;
    }
    return -1;  // read only: refused before encoding
}

}  // namespace

void writeStillImage(const std::string& path, const FrameBitmap& colour, const FrameBitmap* alpha, bool grey,
                     const ImageMetadata* metadata, const ImageSaveSettings& settings) {
    const PictureFormat& format = writableFormatOf(path);
    if (!format.holdsAlpha) alpha = nullptr;
    if (settings.keepTags && !format.holdsAlpha)
        throw CommandError("--keep-tags needs an output with alpha, and " + path + " is a " +
                           std::string(format.name));
    const bool greyOutput = grey && allGrey(colour);
    const bool tags = settings.keepTags && alpha == nullptr;

    // Created first: an interrupt while encoding still finds it to remove.
    ReplacingOutputFile file(path);
    std::vector<std::uint8_t> samples = interleave(colour, alpha, greyOutput, tags);
    const int bands = (greyOutput ? 1 : 3) + (alpha != nullptr || tags ? 1 : 0);
    // A PNG's image data is deflated here on several threads; libvips writes
    // the rest of the file around its first row.
    const bool ownImageData = format.id == Id::png;
    const std::int32_t wrappedRows = ownImageData ? 1 : colour.height;
    ImageRef wrapped(vips_image_new_from_memory(samples.data(), samples.size(), colour.width, wrappedRows, bands,
                                                VIPS_FORMAT_UCHAR));
    if (wrapped.image == nullptr) throw CommandError("cannot write output " + path + ": " + libraryError());
    // Twice the pixels over the same printed size.
    const double xres = metadata != nullptr ? 2 * metadata->xres() : 1.0;
    const double yres = metadata != nullptr ? 2 * metadata->yres() : 1.0;
    VipsImage* tagged = nullptr;
    if (vips_copy(wrapped.image, &tagged, "interpretation",
                  greyOutput ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB, nullptr) != 0)
        throw CommandError("cannot write output " + path + ": " + libraryError());
    ImageRef output(tagged);
    if (metadata != nullptr) metadata->copyTo(output.image);
    // After the metadata: setting EXIF data makes libvips take its resolution.
    output.image->Xres = xres;
    output.image->Yres = yres;
    // HEIF readers ignore an EXIF orientation and libvips writes JPEG XL's
    // own one not: in these the pixels are turned upright instead.
    const bool turnUpright = format.id == Id::heic || format.id == Id::avif || format.id == Id::jxl;
    if (turnUpright && vips_image_get_orientation(output.image) > 1) {
        VipsImage* upright = nullptr;
        if (vips_autorot(output.image, &upright, nullptr) != 0)
            throw CommandError("cannot write output " + path + ": " + libraryError());
        output = ImageRef(upright);
    }

    LibraryBuffer encoded;
    if (save(format.id, output.image, encoded, settings) != 0)
        throw CommandError("cannot encode output " + path + " as " + std::string(format.name) + ": " +
                           libraryError());
    auto put = [&](const char* bytes, std::size_t count) {
        if (std::fwrite(bytes, 1, count, file.stream()) != count)
            throw CommandError("cannot write output " + path + ": " + systemReason(errno));
    };
    std::string head(static_cast<const char*>(encoded.data), encoded.size);
    std::string imageData, tail;
    if (ownImageData) {
        try {
            PngFraming framing = pngFraming(head, colour.height);
            imageData = pngImageData(samples.data(), colour.width, colour.height, bands, settings.threads);
            head = std::move(framing.before);
            tail = std::move(framing.after);
        } catch (const std::runtime_error& error) {
            throw CommandError("cannot encode output " + path + " as PNG: " + error.what());
        }
    }
    const std::string noChunks;
    const std::string& chunks = metadata != nullptr && format.id == Id::png ? metadata->pngChunks() : noChunks;
    if (!chunks.empty() && head.size() > kPngHeaderEnd) {
        // The colour chunks go right after the header, before any palette or image data.
        head.insert(kPngHeaderEnd, chunks);
    }
    put(head.data(), head.size());
    put(imageData.data(), imageData.size());
    put(tail.data(), tail.size());
    file.commit();
}

void checkPictureOutput(const std::string& path) { writableFormatOf(path); }

std::string imageFormatsHelp() {
    startLibrary();
    std::string written, read, missing;
    auto add = [](std::string& list, std::string_view name) { list += (list.empty() ? "" : ", ") + std::string(name); };
    for (const PictureFormat& format : pictureFormats()) {
        if (!libraryHas(format, "load")) add(missing, format.name);
        else if (format.writable && libraryHas(format, "save")) add(written, format.name);
        else add(read, format.name);
    }
    vips_error_clear();
    std::string text = "Picture formats in this build (libvips " + std::string(vips_version_string()) + "):\n";
    if (!written.empty()) text += "  read and written: " + written + "\n";
    if (!read.empty()) text += "  read only:        " + read + "\n";
    if (!missing.empty()) text += "  not in this build: " + missing + "\n";
    return text +
           "Of a picture with several frames (an animated GIF, a multi-page TIFF) the first is\n"
           "enlarged. Pictures keep their alpha, colour profile, EXIF and XMP as far as the\n"
           "output format holds them; the resolution is doubled so that the printed size stays.\n"
           "16-bit pictures are enlarged and written in 8 bits.\n";
}

}  // namespace crest::cli

#include "cli/media/picture/image_io.h"

#include <vips/vips.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <thread>
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

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/jobs/path_kind.h"
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
    if (found == nullptr) throw CommandError("input " + name_ + " is not a " + formatNames() + " picture");
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

// One row of the enlargement as the file's samples: grey or red, green,
// blue; then alpha or the luma tag. False when a grey picture's row is not
// grey, which the filter never gives.
bool interleaveRow(const std::uint8_t* colour, const std::uint8_t* alpha, std::int32_t width, bool grey, bool tags,
                   std::uint8_t* out) {
    bool stayedGrey = true;
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t* pixel = colour + 4 * x;
        if (grey) {
            stayedGrey = stayedGrey && pixel[0] == pixel[1] && pixel[1] == pixel[2];
            *out++ = pixel[1];
        } else {
            *out++ = pixel[2];
            *out++ = pixel[1];
            *out++ = pixel[0];
        }
        // The alpha plane went through the filter as grey: its green is its value.
        if (alpha != nullptr) *out++ = alpha[4 * x + 1];
        else if (tags) *out++ = pixel[3];
    }
    return stayedGrey;
}

// Rows of the enlargement handed from the enlarging thread to libvips's
// encoder, which asks for them through an image's generate function. Formats
// whose encoders read top to bottom (JPEG, TIFF) keep a window of rows;
// the others take the whole picture and keep every row.
class RowStore {
public:
    RowStore(std::size_t rowBytes, bool keepAll) : rowBytes_(rowBytes), keepAll_(keepAll) {}

    // Waits for room. False once the encoder has ended.
    bool push(const std::uint8_t* rows, std::int32_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return encoderEnded_ || keepAll_ || produced_ - first_ < kWindowRows || wanted_ > produced_;
        });
        if (encoderEnded_) return false;
        for (std::int32_t r = 0; r < count; ++r)
            rows_.emplace_back(rows + rowBytes_ * static_cast<std::size_t>(r),
                               rows + rowBytes_ * static_cast<std::size_t>(r + 1));
        produced_ += count;
        changed_.notify_all();
        return true;
    }
    // No more rows; the encoder's requests beyond them fail.
    void close() {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    void encoderEnded() {
        const std::lock_guard lock(mutex_);
        encoderEnded_ = true;
        changed_.notify_all();
    }

    // libvips's generate function: copies the rows of the region asked for.
    static int generate(VipsRegion* out, void*, void* store, void*, gboolean*) {
        return static_cast<RowStore*>(store)->fill(out);
    }

private:
    static constexpr std::int32_t kWindowRows = 512;

    int fill(VipsRegion* out) {
        const VipsRect& rect = out->valid;
        const std::int32_t bottom = rect.top + rect.height;
        std::unique_lock lock(mutex_);
        wanted_ = std::max(wanted_, bottom);
        changed_.notify_all();
        changed_.wait(lock, [&] { return closed_ || produced_ >= bottom; });
        if (produced_ < bottom || rect.top < first_) {
            vips_error("crestdoubler", "%s",
                       produced_ < bottom ? "the enlargement ended early" : "the encoder asked for rows out of order");
            return -1;
        }
        const std::size_t bands = rowBytes_ / static_cast<std::size_t>(out->im->Xsize);
        for (std::int32_t y = rect.top; y < bottom; ++y)
            std::memcpy(VIPS_REGION_ADDR(out, rect.left, y),
                        rows_[static_cast<std::size_t>(y - first_)].data() + bands * static_cast<std::size_t>(rect.left),
                        bands * static_cast<std::size_t>(rect.width));
        if (!keepAll_) {
            while (first_ < rect.top) {
                rows_.pop_front();
                ++first_;
            }
            changed_.notify_all();
        }
        return 0;
    }

    const std::size_t rowBytes_;
    const bool keepAll_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> rows_;  // rows from first_ on
    std::int32_t first_ = 0;
    std::int32_t produced_ = 0;
    std::int32_t wanted_ = 0;
    bool closed_ = false;
    bool encoderEnded_ = false;
};

int save(Id format, VipsImage* image, LibraryBuffer& buffer, int quality) {
    switch (format) {
    case Id::png:
        // Level 3 with libpng's adaptive filters: about a third of the time
        // of level 6, files a few percent larger.
        return vips_pngsave_buffer(image, &buffer.data, &buffer.size, "compression", 3, "filter",
                                   VIPS_FOREIGN_PNG_FILTER_ALL, nullptr);
    case Id::jpeg:
        // At quality 90 and above libvips keeps the chroma at full resolution.
        return vips_jpegsave_buffer(image, &buffer.data, &buffer.size, "Q", quality, "optimize_coding", TRUE,
                                    nullptr);
    case Id::webp:
        return vips_webpsave_buffer(image, &buffer.data, &buffer.size, "Q", quality, nullptr);
    case Id::tiff:
        return vips_tiffsave_buffer(image, &buffer.data, &buffer.size, "compression",
                                    VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE, "predictor",
                                    VIPS_FOREIGN_TIFF_PREDICTOR_HORIZONTAL, nullptr);
    case Id::jxl:
        return vips_jxlsave_buffer(image, &buffer.data, &buffer.size, "Q", quality, nullptr);
    case Id::avif:
    case Id::heic:
        // The samples are 8-bit; libvips would otherwise write 12. AV1 at
        // effort 2 takes about a seventh of the time of libvips's 4 for
        // files some 6% larger; x265 takes no notice of it.
        return vips_heifsave_buffer(image, &buffer.data, &buffer.size, "Q", quality, "bitdepth", 8,
                                    "compression",
                                    format == Id::avif ? VIPS_FOREIGN_HEIF_COMPRESSION_AV1
                                                       : VIPS_FOREIGN_HEIF_COMPRESSION_HEVC,
                                    "effort", 2, nullptr);
    case Id::gif: break;
    }
    return -1;  // read only: refused before encoding
}

}  // namespace

struct PictureWriter::Encoder {
    Encoder(const std::string& outputPath, std::int32_t pictureWidth, std::int32_t pictureHeight,
            PictureWriteSettings writeSettings, InstancePool& instancePool)
        : path(outputPath),
          format(writableFormatOf(outputPath)),
          settings(std::move(writeSettings)),
          pool(instancePool),
          width(pictureWidth),
          height(pictureHeight),
          alpha(settings.alpha && format.holdsAlpha),
          tags(settings.keepTags && !alpha),
          bands((settings.grey ? 1 : 3) + (alpha || tags ? 1 : 0)),
          rowBytes(static_cast<std::size_t>(width) * static_cast<std::size_t>(bands)),
          file(outputPath) {  // created first: an interrupt while encoding still finds it to remove
        if (settings.keepTags && !format.holdsAlpha)
            throw CommandError("--keep-tags needs an output with alpha, and " + path + " is a " +
                               std::string(format.name));
        // A reduction goes through libvips, which PNG's own stripes bypass.
        if (format.id == Id::png && !settings.target) startPng();
        else startLibraryEncoder();
    }

    ~Encoder() {
        if (store == nullptr) return;
        store->close();
        if (encoderThread.joinable()) encoderThread.join();
    }

    // An image of the output's size, bands and metadata whose pixels come
    // from generate (null: a one-row image of zeros, for the PNG framing).
    ImageRef describedImage(std::vector<std::uint8_t>& oneRow) {
        ImageRef image;
        if (store != nullptr) {
            image = ImageRef(vips_image_new());
            vips_image_init_fields(image.image, width, height, bands, VIPS_FORMAT_UCHAR, VIPS_CODING_NONE,
                                   settings.grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
            if (vips_image_pipelinev(image.image, VIPS_DEMAND_STYLE_THINSTRIP, nullptr) != 0 ||
                vips_image_generate(image.image, nullptr, RowStore::generate, nullptr, store.get(), nullptr) != 0)
                throw CommandError("cannot write output " + path + ": " + libraryError());
            if (settings.target) image = reduced(std::move(image), *settings.target);
        } else {
            oneRow.assign(rowBytes, 0);
            ImageRef wrapped(vips_image_new_from_memory(oneRow.data(), oneRow.size(), width, 1, bands,
                                                        VIPS_FORMAT_UCHAR));
            VipsImage* tagged = nullptr;
            if (wrapped.image == nullptr ||
                vips_copy(wrapped.image, &tagged, "interpretation",
                          settings.grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB, nullptr) != 0)
                throw CommandError("cannot write output " + path + ": " + libraryError());
            image = ImageRef(tagged);
        }
        const ImageMetadata* metadata = settings.metadata.get();
        if (metadata != nullptr) metadata->copyTo(image.image);
        // After the metadata: setting EXIF data makes libvips take its resolution.
        image.image->Xres = metadata != nullptr ? settings.xScale * metadata->xres() : 1.0;
        image.image->Yres = metadata != nullptr ? settings.yScale * metadata->yres() : 1.0;
        // HEIF readers ignore an EXIF orientation and libvips writes JPEG XL's
        // own one not: in these the pixels are turned upright instead.
        const bool turnUpright = format.id == Id::heic || format.id == Id::avif || format.id == Id::jxl;
        if (turnUpright && vips_image_get_orientation(image.image) > 1) {
            VipsImage* upright = nullptr;
            if (vips_autorot(image.image, &upright, nullptr) != 0)
                throw CommandError("cannot write output " + path + ": " + libraryError());
            image = ImageRef(upright);
        }
        return image;
    }

    // The rows asked of the store in order, whatever the kernel's overlap,
    // then Lanczos-3 down to exactly the target.
    ImageRef reduced(ImageRef image, FrameSize target) const {
        VipsImage* ordered = nullptr;
        if (vips_sequential(image.image, &ordered, nullptr) != 0)
            throw CommandError("cannot write output " + path + ": " + libraryError());
        ImageRef sequential(ordered);
        VipsImage* resized = nullptr;
        if (vips_resize(sequential.image, &resized, static_cast<double>(target.width) / width, "vscale",
                        static_cast<double>(target.height) / height, "kernel", VIPS_KERNEL_LANCZOS3, nullptr) != 0)
            throw CommandError("cannot reduce output " + path + ": " + libraryError());
        ImageRef result(resized);
        if (result.image->Xsize != target.width || result.image->Ysize != target.height)
            throw CommandError("cannot reduce output " + path + " to " + std::to_string(target.width) + "x" +
                               std::to_string(target.height) + ": libvips made " +
                               std::to_string(result.image->Xsize) + "x" + std::to_string(result.image->Ysize));
        return result;
    }

    void put(const char* bytes, std::size_t count) {
        if (std::fwrite(bytes, 1, count, file.stream()) != count)
            throw CommandError("cannot write output " + path + ": " + systemReason(errno));
    }

    // ---- PNG: libvips writes the chunks around the image data, which is
    // deflated here in stripes on the pool.

    void startPng() {
        std::vector<std::uint8_t> oneRow;
        ImageRef image = describedImage(oneRow);
        LibraryBuffer encoded;
        if (save(format.id, image.image, encoded, settings.quality) != 0)
            throw CommandError("cannot encode output " + path + " as PNG: " + libraryError());
        PngFraming framing;
        try {
            framing = pngFraming(std::string(static_cast<const char*>(encoded.data), encoded.size), height);
        } catch (const std::runtime_error& error) {
            throw CommandError("cannot encode output " + path + " as PNG: " + error.what());
        }
        const ImageMetadata* metadata = settings.metadata.get();
        // The colour chunks go right after the header, before any palette or image data.
        if (metadata != nullptr && !metadata->pngChunks().empty() && framing.before.size() > kPngHeaderEnd)
            framing.before.insert(kPngHeaderEnd, metadata->pngChunks());
        put(framing.before.data(), framing.before.size());
        pngTail = std::move(framing.after);
        stripeRows = pngStripeRows(rowBytes);
        newStripe(nullptr);
    }

    struct StripeJob {
        std::vector<std::uint8_t> rows;  // the row above, when there is one, then the stripe's rows
        bool hasRowAbove = false;
        std::int32_t count = 0;
        bool last = false;
        std::promise<PngStripe> result;
    };

    void newStripe(const std::uint8_t* rowAbove) {
        stripe = std::make_shared<StripeJob>();
        stripe->rows.reserve(rowBytes * (static_cast<std::size_t>(stripeRows) + 1));
        if (rowAbove != nullptr) {
            stripe->rows.assign(rowAbove, rowAbove + rowBytes);
            stripe->hasRowAbove = true;
        }
    }

    void submitStripe() {
        std::shared_ptr<StripeJob> job = std::move(stripe);
        job->last = rowsWritten == height;
        // The next stripe takes its row above before this one is handed out.
        if (!job->last) newStripe(job->rows.data() + job->rows.size() - rowBytes);
        pendingLast = job->last;
        pending.push_back(job->result.get_future());
        const std::size_t bytesPerRow = rowBytes;
        const int sampleBands = bands;
        stripeJobs.submit(stripesSubmitted++, [job = std::move(job), bytesPerRow, sampleBands](PoolWorker&) {
            try {
                const std::uint8_t* first = job->rows.data() + (job->hasRowAbove ? bytesPerRow : 0);
                job->result.set_value(deflatePngStripe(first, job->hasRowAbove ? job->rows.data() : nullptr,
                                                       job->count, bytesPerRow, sampleBands, job->last));
            } catch (...) {
                job->result.set_exception(std::current_exception());
            }
            std::vector<std::uint8_t>().swap(job->rows);
        });
        // Stripes in flight: enough to keep every instance busy.
        while (pending.size() > static_cast<std::size_t>(pool.size()) + 1) writeOldestStripe();
    }

    void writeOldestStripe() {
        PngStripe done;
        try {
            done = pending.front().get();
        } catch (const std::runtime_error& error) {
            throw CommandError("cannot encode output " + path + " as PNG: " + error.what());
        }
        pending.pop_front();
        const bool last = pending.empty() && pendingLast;
        const std::string chunk = joiner.chunkOf(done, last);
        put(chunk.data(), chunk.size());
    }

    void pngRow(const std::uint8_t* colour, const std::uint8_t* alphaRow) {
        const std::size_t at = stripe->rows.size();
        stripe->rows.resize(at + rowBytes);
        if (!interleaveRow(colour, alphaRow, width, settings.grey, tags, stripe->rows.data() + at)) notGrey();
        ++stripe->count;
        ++rowsWritten;
        if (stripe->count == stripeRows || rowsWritten == height) submitStripe();
    }

    // ---- the other formats: libvips's encoder on a thread of its own asks
    // for rows as it goes.

    void startLibraryEncoder() {
        const bool streams = format.id == Id::jpeg || format.id == Id::tiff || format.id == Id::png;
        store = std::make_unique<RowStore>(rowBytes, !streams);
        std::vector<std::uint8_t> unused;
        encoderImage = describedImage(unused);
        rowBuffer.resize(rowBytes * kRowsAtOnce);
        encoderThread = std::thread([this] {
            if (save(format.id, encoderImage.image, encoded, settings.quality) != 0) encoderError = libraryError();
            store->encoderEnded();
        });
    }

    static constexpr std::int32_t kRowsAtOnce = 64;

    void libraryRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
        for (std::int32_t done = 0; done < count;) {
            const std::int32_t rows = std::min(kRowsAtOnce, count - done);
            for (std::int32_t r = 0; r < rows; ++r) {
                const std::int32_t y = at + done + r;
                if (!interleaveRow(planes[0]->row(y), alpha ? planes[1]->row(y) : nullptr, width, settings.grey, tags,
                                   rowBuffer.data() + rowBytes * static_cast<std::size_t>(r)))
                    notGrey();
            }
            if (!store->push(rowBuffer.data(), rows)) encoderFailed();
            done += rows;
        }
    }

    [[noreturn]] void encoderFailed() {
        store->close();
        encoderThread.join();
        throw CommandError("cannot encode output " + path + " as " + std::string(format.name) + ": " +
                           (encoderError.empty() ? "the encoder stopped early" : encoderError));
    }

    [[noreturn]] void notGrey() {
        throw CommandError("cannot write output " + path + ": the enlargement of a grey picture is not grey");
    }

    void finish() {
        if (store == nullptr) {
            while (!pending.empty()) writeOldestStripe();
            put(pngTail.data(), pngTail.size());
        } else {
            store->close();
            encoderThread.join();
            if (!encoderError.empty()) encoderFailed();
            put(static_cast<const char*>(encoded.data), encoded.size);
        }
        file.commit();
    }

    const std::string path;
    const PictureFormat& format;
    const PictureWriteSettings settings;
    InstancePool& pool;
    // Stripes report through their futures; the group only guards the pool.
    JobGroup stripeJobs{pool};
    std::size_t stripesSubmitted = 0;
    const std::int32_t width;
    const std::int32_t height;
    const bool alpha;
    const bool tags;
    const int bands;
    const std::size_t rowBytes;
    ReplacingOutputFile file;
    std::int32_t rowsWritten = 0;

    std::int32_t stripeRows = 0;
    std::shared_ptr<StripeJob> stripe;
    std::deque<std::future<PngStripe>> pending;
    bool pendingLast = false;  // the picture's last stripe is among them
    PngImageDataJoiner joiner;
    std::string pngTail;

    std::unique_ptr<RowStore> store;
    ImageRef encoderImage;
    std::vector<std::uint8_t> rowBuffer;
    LibraryBuffer encoded;
    std::string encoderError;
    std::thread encoderThread;
};

PictureWriter::PictureWriter(const std::string& path, std::int32_t width, std::int32_t height,
                             PictureWriteSettings settings, InstancePool& pool)
    : encoder_(std::make_unique<Encoder>(path, width, height, std::move(settings), pool)) {}

PictureWriter::~PictureWriter() = default;

void PictureWriter::writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    Encoder& e = *encoder_;
    if (e.store != nullptr) return e.libraryRows(planes, at, count);
    for (std::int32_t y = at; y < at + count; ++y) e.pngRow(planes[0]->row(y), e.alpha ? planes[1]->row(y) : nullptr);
}

void PictureWriter::finish() { encoder_->finish(); }

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

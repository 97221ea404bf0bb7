#include "cli/png_io.h"

#include <png.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "cli/command_error.h"
#include "cli/options.h"

// libpng reports errors by longjmp. The functions that call setjmp below touch
// only plain data, so the jump skips no destructor; the C++ side throws once
// they have returned false.

namespace crest::cli {

namespace {

constexpr std::size_t kSignatureBytes = 8;

struct PngErrorState {
    char message[256] = {};
    bool endOfFile = false;
};

void onPngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void ignorePngWarning(png_structp, png_const_charp) {}

void readFromFile(png_structp png, png_bytep data, std::size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, file) == length) return;
    if (!std::ferror(file)) static_cast<PngErrorState*>(png_get_error_ptr(png))->endOfFile = true;
    png_error(png, std::ferror(file) ? "read error" : "unexpected end of file");
}

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
};

bool readHeader(png_structp png, png_infop info, PngHeader& header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_sig_bytes(png, kSignatureBytes);
    // The frame limits are checked by the caller, with a clearer message.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    header.width = png_get_image_width(png, info);
    header.height = png_get_image_height(png, info);
    return true;
}

// Every colour type becomes 8-bit blue, green, red, filler: the bitmap's words.
bool setUpTransforms(png_structp png, png_infop info, std::size_t& rowBytes) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    rowBytes = png_get_rowbytes(png, info);
    return true;
}

bool readRows(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

bool writeImage(png_structp png, png_infop info, std::FILE* file, png_bytepp rows, png_uint_32 width,
                png_uint_32 height, bool keepTags) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, keepTags ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // The bitmap holds blue, green, red, tag: either keep the tag as alpha or drop it.
    png_set_bgr(png);
    if (!keepTags) png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

class PngReadHandles {
public:
    explicit PngReadHandles(PngErrorState& errors) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, ignorePngWarning);
        if (png != nullptr) info = png_create_info_struct(png);
    }
    ~PngReadHandles() { png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr); }
    PngReadHandles(const PngReadHandles&) = delete;
    PngReadHandles& operator=(const PngReadHandles&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
};

class PngWriteHandles {
public:
    explicit PngWriteHandles(PngErrorState& errors) {
        png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, ignorePngWarning);
        if (png != nullptr) info = png_create_info_struct(png);
    }
    ~PngWriteHandles() { png_destroy_write_struct(&png, info != nullptr ? &info : nullptr); }
    PngWriteHandles(const PngWriteHandles&) = delete;
    PngWriteHandles& operator=(const PngWriteHandles&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
};

class InputFile {
public:
    explicit InputFile(const std::string& path) : stream(openInputFile(path)) {}
    ~InputFile() { std::fclose(stream); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    std::FILE* stream;
};

std::vector<png_bytep> rowPointers(FrameBitmap& frame) {
    std::vector<png_bytep> rows(static_cast<std::size_t>(frame.height));
    for (std::int32_t y = 0; y < frame.height; ++y) rows[static_cast<std::size_t>(y)] = frame.row(y);
    return rows;
}

constexpr std::uint64_t kLargestDeflateRatio = 1032;

}  // namespace

PngFrameReader::PngFrameReader(const std::string& path) {
    InputFile file(path);
    png_byte signature[kSignatureBytes];
    const std::size_t signatureRead = std::fread(signature, 1, kSignatureBytes, file.stream);
    if (std::ferror(file.stream)) throw CommandError("cannot read input " + path + ": " + systemReason(errno));
    if (signatureRead < kSignatureBytes || png_sig_cmp(signature, 0, kSignatureBytes) != 0)
        throw CommandError("input " + path + " is not a PNG image");

    PngErrorState errors;
    PngReadHandles handles(errors);
    if (handles.info == nullptr) throw CommandError("out of memory reading " + path);
    png_set_read_fn(handles.png, file.stream, readFromFile);

    auto failure = [&] {
        if (errors.endOfFile) return CommandError("input " + path + " is a truncated PNG: it ends early");
        return CommandError("input " + path + " is a corrupt PNG: " + errors.message);
    };
    PngHeader header;
    if (!readHeader(handles.png, handles.info, header)) throw failure();
    if (header.width > static_cast<png_uint_32>(kMaxSourceWidth) ||
        header.height > static_cast<png_uint_32>(kMaxSourceHeight))
        throw CommandError("input " + path + " is " + std::to_string(header.width) + "x" +
                           std::to_string(header.height) + " pixels, larger than the largest frame, " +
                           std::to_string(kMaxSourceWidth) + "x" + std::to_string(kMaxSourceHeight));

    // Deflate packs at most 1032 bytes into one, so a file shorter than its
    // image data over 1032 cannot hold the image: refuse it before
    // allocating a frame of the size its header announces.
    std::error_code sizeError;
    const std::uintmax_t fileBytes = std::filesystem::file_size(path, sizeError);
    const std::uint64_t imageBytes =
        static_cast<std::uint64_t>(header.height) * (1 + png_get_rowbytes(handles.png, handles.info));
    if (!sizeError && fileBytes < imageBytes / kLargestDeflateRatio)
        throw CommandError("input " + path + " is a truncated PNG: " + std::to_string(fileBytes) +
                           " bytes cannot hold a " + std::to_string(header.width) + "x" +
                           std::to_string(header.height) + " image");

    std::size_t rowBytes = 0;
    if (!setUpTransforms(handles.png, handles.info, rowBytes)) throw failure();
    if (rowBytes != 4 * static_cast<std::size_t>(header.width))
        throw CommandError("input " + path + " has a pixel format this command cannot read");

    frame_ = std::make_unique<FrameBitmap>(static_cast<std::int32_t>(header.width),
                                           static_cast<std::int32_t>(header.height));
    std::vector<png_bytep> rows = rowPointers(*frame_);
    if (!readRows(handles.png, rows.data())) throw failure();
}

FrameBitmap* PngFrameReader::nextFrame() {
    if (delivered_) return nullptr;
    delivered_ = true;
    return frame_.get();
}

PngFrameWriter::PngFrameWriter(std::string path, bool keepTags) : path_(std::move(path)), keepTags_(keepTags) {}

void PngFrameWriter::writeFrame(const FrameBitmap& frame) {
    if (file_ != nullptr)
        throw CommandError("output " + path_ + " is a PNG, which holds one frame, but the input has more");
    file_ = std::make_unique<ReplacingOutputFile>(path_);

    PngErrorState errors;
    PngWriteHandles handles(errors);
    if (handles.info == nullptr) throw CommandError("out of memory writing " + path_);
    // libpng only reads through these pointers.
    std::vector<png_bytep> rows = rowPointers(const_cast<FrameBitmap&>(frame));
    if (!writeImage(handles.png, handles.info, file_->stream(), rows.data(), static_cast<png_uint_32>(frame.width),
                    static_cast<png_uint_32>(frame.height), keepTags_))
        throw CommandError("cannot write output " + path_ + ": " + errors.message);
}

void PngFrameWriter::finish() {
    if (file_ != nullptr) file_->commit();
}

}  // namespace crest::cli

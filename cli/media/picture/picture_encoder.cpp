#include "cli/media/picture/picture_encoder.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "cli/media/picture/image_metadata.h"

namespace crest::cli {

PictureWriter::Encoder::Encoder(const std::string& outputPath, const PictureFormat& outputFormat,
                                std::int32_t pictureWidth, std::int32_t pictureHeight,
                                PictureWriteSettings writeSettings)
    : path(outputPath),
      format(outputFormat),
      settings(std::move(writeSettings)),
      width(pictureWidth),
      height(pictureHeight),
      alpha(settings.alpha && format.holdsAlpha),
      tags(settings.keepTags && !alpha),
      bands((settings.grey ? 1 : 3) + (alpha || tags ? 1 : 0)),
      rowBytes(static_cast<std::size_t>(width) * static_cast<std::size_t>(bands)),
      file(outputPath) {
    if (settings.keepTags && !format.holdsAlpha)
        throw CommandError("--keep-tags needs an output with alpha, and " + path + " is a " +
                           std::string(format.name));
}

ImageRef PictureWriter::Encoder::described(ImageRef image) const {
    const ImageMetadata* metadata = settings.metadata.get();
    if (metadata != nullptr) metadata->copyTo(image.image);
    // After the metadata: setting EXIF data makes libvips take its resolution.
    image.image->Xres = metadata != nullptr ? settings.xScale * metadata->xres() : 1.0;
    image.image->Yres = metadata != nullptr ? settings.yScale * metadata->yres() : 1.0;
    if (format.turnedUpright && vips_image_get_orientation(image.image) > 1) {
        VipsImage* upright = nullptr;
        if (vips_autorot(image.image, &upright, nullptr) != 0) throw writeError();
        image = ImageRef(upright);
    }
    return image;
}

VipsInterpretation PictureWriter::Encoder::interpretation() const {
    return settings.grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
}

CommandError PictureWriter::Encoder::writeError() const {
    return CommandError("cannot write output " + path + ": " + libraryError());
}

void PictureWriter::Encoder::put(const char* bytes, std::size_t count) {
    if (std::fwrite(bytes, 1, count, file.stream()) != count)
        throw CommandError("cannot write output " + path + ": " + systemReason(errno));
}

void PictureWriter::Encoder::interleave(const std::uint8_t* colour, const std::uint8_t* alphaRow,
                                        std::uint8_t* out) const {
    bool stayedGrey = true;
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint8_t* pixel = colour + 4 * x;
        if (settings.grey) {
            stayedGrey = stayedGrey && pixel[0] == pixel[1] && pixel[1] == pixel[2];
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
    // The filter never gives it.
    if (!stayedGrey)
        throw CommandError("cannot write output " + path + ": the enlargement of a grey picture is not grey");
}

namespace {

// A libvips operation with its options in libvips's notation, then those
// given as name, value pairs ending in null.
int callSaver(const std::string& operation, std::string_view options, VipsImage* image, VipsArea** blob, ...) {
    const std::string optionString(options);
    std::va_list optional;
    va_start(optional, blob);
    const int status = vips_call_split_option_string(operation.c_str(), optionString.empty() ? nullptr
                                                                                             : optionString.c_str(),
                                                     optional, image, blob);
    va_end(optional);
    return status;
}

}  // namespace

int saveWithLibrary(const PictureFormat& format, VipsImage* image, int quality, LibraryBuffer& buffer) {
    const std::string operation = operationFor(format, "save");
    VipsArea* blob = nullptr;
    const int status = format.lossy ? callSaver(operation, format.saveOptions, image, &blob, "Q", quality, nullptr)
                                    : callSaver(operation, format.saveOptions, image, &blob, nullptr);
    if (status != 0 || blob == nullptr) return status != 0 ? status : -1;
    buffer.data = blob->data;
    buffer.size = blob->length;
    blob->free_fn = nullptr;
    vips_area_unref(blob);
    return 0;
}

}  // namespace crest::cli

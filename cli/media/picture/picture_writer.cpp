// The writer chooses an encoder by the output's format: PNG's own stripes,
// unless libvips reduces the picture, else libvips's saver.
#include <memory>
#include <utility>

#include "cli/base/command_error.h"
#include "cli/media/picture/image_io.h"
#include "cli/media/picture/library_encoder.h"
#include "cli/media/picture/picture_formats.h"
#include "cli/media/picture/png_stripe_encoder.h"
#include "cli/media/picture/vips_library.h"

namespace crest::cli {

namespace {

// The format of an output path that this build can write.
const PictureFormat& writableFormatOf(const std::string& path) {
    startLibrary();
    const PictureFormat* format = pictureFormatOfPath(path);
    if (format == nullptr) throw CommandError("cannot write " + path + ": not a picture format");
    if (!format->writable)
        throw CommandError("cannot write " + path + ": " + std::string(format->name) +
                           " is read only here; write one of" + pictureExtensionList(true));
    if (!libraryHas(*format, "save")) throw missingCodec("output " + path, *format, "save");
    return *format;
}

std::unique_ptr<PictureWriter::Encoder> encoderFor(const std::string& path, std::int32_t width, std::int32_t height,
                                                   PictureWriteSettings settings, InstancePool& pool) {
    const PictureFormat& format = writableFormatOf(path);
    // A reduction goes through libvips, which PNG's own stripes bypass.
    if (format.id == PictureFormatId::png && !settings.target)
        return std::make_unique<PngStripeEncoder>(path, format, width, height, std::move(settings), pool);
    return std::make_unique<LibraryEncoder>(path, format, width, height, std::move(settings));
}

}  // namespace

PictureWriter::PictureWriter(const std::string& path, std::int32_t width, std::int32_t height,
                             PictureWriteSettings settings, InstancePool& pool)
    : encoder_(encoderFor(path, width, height, std::move(settings), pool)) {}

PictureWriter::~PictureWriter() = default;

void PictureWriter::writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) {
    encoder_->writeRows(planes, at, count);
}

void PictureWriter::finish() { encoder_->finish(); }

void checkPictureOutput(const std::string& path) { writableFormatOf(path); }

bool formatHoldsAlpha(const std::string& path) {
    const PictureFormat* format = pictureFormatOfPath(path);
    return format == nullptr || format->holdsAlpha;
}

}  // namespace crest::cli

// The picture functions of a build without libvips: every picture is refused.
#include "cli/app/command_error.h"
#include "cli/media/picture/image_io.h"

namespace crest::cli {

class ImageMetadata {};

namespace {

[[noreturn]] void refuse(const std::string& path) {
    throw CommandError("cannot handle " + path + ": this build has no picture support (libvips was not found); "
                       "it reads and writes raw frames only");
}

}  // namespace

StillImage readStillImage(const std::string& path) { refuse(path); }

StillImage decodeStillImage(const std::uint8_t*, std::size_t, const std::string& name, const DecodeLimits&) {
    refuse(name);
}

void writeStillImage(const std::string& path, const FrameBitmap&, const FrameBitmap*, bool, const ImageMetadata*,
                     const ImageSaveSettings&) {
    refuse(path);
}

void checkPictureOutput(const std::string& path) { refuse(path); }

bool formatHoldsAlpha(const std::string&) { return false; }

std::string imageFormatsHelp() { return "Picture formats in this build: none (built without libvips).\n"; }

ImageLibraryScope::~ImageLibraryScope() = default;

}  // namespace crest::cli

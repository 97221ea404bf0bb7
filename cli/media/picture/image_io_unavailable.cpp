// The picture functions of a build without libvips: every picture is refused.
#include "cli/base/command_error.h"
#include "cli/media/picture/image_io.h"

namespace crest::cli {

class ImageMetadata {};

namespace {

[[noreturn]] void refuse(const std::string& path) {
    throw CommandError("cannot handle " + path + ": this build has no picture support (libvips was not found); "
                       "it reads and writes raw frames only");
}

}  // namespace

struct PictureReader::Decoder {};

std::unique_ptr<PictureReader> PictureReader::open(const std::string& path) { refuse(path); }
PictureReader::PictureReader(std::vector<std::uint8_t>, std::string name, const DecodeLimits&) { refuse(name); }
PictureReader::~PictureReader() = default;
std::int32_t PictureReader::width() const { return 0; }
std::int32_t PictureReader::height() const { return 0; }
int PictureReader::planeCount() const { return 0; }
void PictureReader::readRows(std::span<FrameBitmap* const>, std::int32_t, std::int32_t) {}
bool PictureReader::hasAlpha() const { return false; }
void PictureReader::leaveOutAlpha() {}
bool PictureReader::grey() const { return false; }
int PictureReader::pages() const { return 0; }
std::shared_ptr<const ImageMetadata> PictureReader::metadata() const { return nullptr; }

struct PictureWriter::Encoder {};

PictureWriter::PictureWriter(const std::string& path, std::int32_t, std::int32_t, PictureWriteSettings, InstancePool&) {
    refuse(path);
}
PictureWriter::~PictureWriter() = default;
void PictureWriter::writeRows(std::span<const FrameBitmap* const>, std::int32_t, std::int32_t) {}
void PictureWriter::finish() {}

void checkPictureOutput(const std::string& path) { refuse(path); }

bool formatHoldsAlpha(const std::string&) { return false; }

std::string imageFormatsHelp() { return "Picture formats in this build: none (built without libvips).\n"; }

ImageLibraryScope::~ImageLibraryScope() = default;

}  // namespace crest::cli

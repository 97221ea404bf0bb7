#include "cli/media/picture/picture_formats.h"

#include <algorithm>
#include <stdexcept>

#include "cli/jobs/path_kind.h"

namespace crest::cli {

namespace {

using Id = PictureFormatId;

// In the order --help lists them.
// Level 3 with libpng's adaptive filters: about a third of the time of level
// 6, files a few percent larger. At quality 90 and above libvips keeps JPEG's
// chroma at full resolution. HEIF's samples are 8-bit, where libvips would
// otherwise write 12; AV1 at effort 2 takes about a seventh of the time of
// libvips's 4 for files some 6% larger, and x265 takes no notice of it.
constexpr PictureFormat kFormats[] = {
    {Id::png, "PNG", {"png", ""}, "png", true, true, false, "compression=3,filter=all", true, false},
    {Id::jpeg, "JPEG", {"jpg", "jpeg"}, "jpeg", true, false, true, "optimize_coding=true", true, false},
    {Id::webp, "WebP", {"webp", ""}, "webp", true, true, true, "", false, false},
    {Id::tiff, "TIFF", {"tif", "tiff"}, "tiff", true, true, false, "compression=deflate,predictor=horizontal", true,
     false},
    {Id::jxl, "JPEG XL", {"jxl", ""}, "jxl", true, true, true, "", false, true},
    {Id::avif, "AVIF", {"avif", ""}, "heif", true, true, true, "bitdepth=8,compression=av1,effort=2", false, true},
    {Id::heic, "HEIC", {"heic", "heif"}, "heif", true, true, true, "bitdepth=8,compression=hevc,effort=2", false,
     true},
    {Id::gif, "GIF", {"gif", ""}, "gif", false, true, false, "", false, false},
};
}  // namespace

std::span<const PictureFormat> pictureFormats() { return kFormats; }

const PictureFormat& pictureFormatWithId(PictureFormatId id) {
    for (const PictureFormat& format : kFormats)
        if (format.id == id) return format;
    throw std::logic_error("a picture format missing from the list");
}

const PictureFormat* pictureFormatOfPath(const std::string& path) {
    return pictureFormatOfExtension(lowerExtension(path));
}

const PictureFormat* pictureFormatOfExtension(std::string_view extension) {
    if (extension.empty()) return nullptr;
    for (const PictureFormat& format : kFormats)
        if (std::find(format.extensions.begin(), format.extensions.end(), extension) != format.extensions.end())
            return &format;
    return nullptr;
}

std::string pictureExtensionList(bool writableOnly) {
    std::string list;
    for (const PictureFormat& format : kFormats) {
        if (writableOnly && !format.writable) continue;
        for (const std::string_view extension : format.extensions)
            if (!extension.empty()) list += " ." + std::string(extension);
    }
    return list;
}

std::string pictureFormatNames() {
    std::string names;
    const std::size_t count = std::size(kFormats);
    for (std::size_t i = 0; i < count; ++i)
        names += (i == 0 ? "" : i + 1 == count ? " or " : ", ") + std::string(kFormats[i].name);
    return names;
}

std::string lossyPictureFormatNames() {
    std::string names;
    for (const PictureFormat& format : kFormats)
        if (format.lossy) names += (names.empty() ? "" : ", ") + std::string(format.name);
    return names;
}

}  // namespace crest::cli

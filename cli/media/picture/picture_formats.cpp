#include "cli/media/picture/picture_formats.h"

#include <algorithm>

namespace crest::cli {

namespace {

using Id = PictureFormatId;

// In the order --help lists them.
constexpr PictureFormat kFormats[] = {
    {Id::png, "PNG", {"png", ""}, "png", true, true, false},
    {Id::jpeg, "JPEG", {"jpg", "jpeg"}, "jpeg", true, false, true},
    {Id::webp, "WebP", {"webp", ""}, "webp", true, true, true},
    {Id::tiff, "TIFF", {"tif", "tiff"}, "tiff", true, true, false},
    {Id::jxl, "JPEG XL", {"jxl", ""}, "jxl", true, true, true},
    {Id::avif, "AVIF", {"avif", ""}, "heif", true, true, true},
    {Id::heic, "HEIC", {"heic", "heif"}, "heif", true, true, true},
    {Id::gif, "GIF", {"gif", ""}, "gif", false, true, false},
};

}  // namespace

std::span<const PictureFormat> pictureFormats() { return kFormats; }

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

std::string lossyPictureFormatNames() {
    std::string names;
    for (const PictureFormat& format : kFormats)
        if (format.lossy) names += (names.empty() ? "" : ", ") + std::string(format.name);
    return names;
}

}  // namespace crest::cli

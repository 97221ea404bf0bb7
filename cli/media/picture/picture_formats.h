// The picture formats the command knows: one list, for choosing a path's kind
// by its extension, for reading and writing, and for --help.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace crest::cli {

enum class PictureFormatId { png, jpeg, webp, tiff, jxl, avif, heic, gif };

struct PictureFormat {
    PictureFormatId id;
    std::string_view name;  // for messages: "PNG", "JPEG XL", ...
    std::array<std::string_view, 2> extensions;  // lower case, without the dot; unused ones empty
    std::string_view library;  // libvips's name: "heif" for its heifload and heifsave
    bool writable;             // the command writes it (GIF is read only)
    bool holdsAlpha;
    bool lossy;  // written lossily, its quality set by --quality
    // libvips's saver options in its own notation ("compression=3,..."),
    // beside the quality of the lossy formats.
    std::string_view saveOptions;
    // The encoder reads rows top to bottom, so only a window of them is kept
    // (PNG's when libvips encodes it, on a reduction); the others take the
    // whole picture.
    bool streamsRows;
    // HEIF readers ignore an EXIF orientation and libvips writes JPEG XL's
    // own one not: in these the pixels are turned upright instead.
    bool turnedUpright;
};

std::span<const PictureFormat> pictureFormats();

const PictureFormat& pictureFormatWithId(PictureFormatId id);

// The format of a path by its extension, or null.
const PictureFormat* pictureFormatOfPath(const std::string& path);

// The format of a lower-case extension, or null.
const PictureFormat* pictureFormatOfExtension(std::string_view extension);

// The extensions as " .png .jpg ...", of every format or of the writable ones.
std::string pictureExtensionList(bool writableOnly);

// Every format's name: "PNG, JPEG, ... or GIF".
std::string pictureFormatNames();

// The names of the formats --quality applies to: "JPEG, WebP, ...".
std::string lossyPictureFormatNames();

}  // namespace crest::cli

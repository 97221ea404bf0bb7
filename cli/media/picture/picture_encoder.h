// What the encoders of an enlargement's file share: its description, its
// temporary file, its rows as the file's samples, and libvips's saver.
#pragma once

#include <vips/vips.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/media/picture/image_io.h"
#include "cli/media/picture/picture_formats.h"
#include "cli/media/picture/vips_library.h"

namespace crest::cli {

// Encodes the enlargement into a temporary file beside path, as its rows
// arrive in order, and renames the file over path when finished.
struct PictureWriter::Encoder {
    // The file is created first: an interrupt while encoding still finds it to remove.
    Encoder(const std::string& path, const PictureFormat& format, std::int32_t width, std::int32_t height,
            PictureWriteSettings settings);
    virtual ~Encoder() = default;
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    virtual void writeRows(std::span<const FrameBitmap* const> planes, std::int32_t at, std::int32_t count) = 0;
    virtual void finish() = 0;

protected:
    // An image of the output's pixels, bands and colours given its metadata
    // and resolution, and turned upright where the format needs it.
    ImageRef described(ImageRef image) const;
    VipsInterpretation interpretation() const;
    CommandError writeError() const;  // after a libvips call failed
    void put(const char* bytes, std::size_t count);
    // One row of the enlargement as the file's samples: grey or red, green,
    // blue; then alpha or the luma tag.
    void interleave(const std::uint8_t* colour, const std::uint8_t* alphaRow, std::uint8_t* out) const;

    const std::string path;
    const PictureFormat& format;
    const PictureWriteSettings settings;
    const std::int32_t width;
    const std::int32_t height;
    const bool alpha;
    const bool tags;
    const int bands;
    const std::size_t rowBytes;
    ReplacingOutputFile file;
};

// Encodes image with the format's libvips saver and options, into buffer.
// Non-zero on failure, with the reason in libvips's error buffer.
int saveWithLibrary(const PictureFormat& format, VipsImage* image, int quality, LibraryBuffer& buffer);

}  // namespace crest::cli

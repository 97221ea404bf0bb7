// What a picture file carries besides its pixels, kept as libvips holds it,
// to be carried over to the enlargement's file.
#pragma once

#include <vips/vips.h>

#include <string>
#include <utility>

namespace crest::cli {

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
    void copyTo(VipsImage* target) const;

private:
    VipsImage* header_;
    std::string pngChunks_;
    bool dropProfile_;
};

}  // namespace crest::cli

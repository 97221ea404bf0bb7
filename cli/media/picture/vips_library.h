// libvips for the picture code: started once with the command's settings,
// its errors as one line, and owners of what it hands out.
#pragma once

#include <vips/vips.h>

#include <cstddef>
#include <string>
#include <utility>

#include "cli/base/command_error.h"
#include "cli/media/picture/picture_formats.h"

namespace crest::cli {

// Starts libvips on first use; throws CommandError when it cannot.
void startLibrary();

// The library's error text as one line, and the buffer cleared.
std::string libraryError();

struct ImageRef {
    ImageRef() = default;
    explicit ImageRef(VipsImage* image) : image(image) {}
    ~ImageRef() {
        if (image != nullptr) g_object_unref(image);
    }
    ImageRef(const ImageRef&) = delete;
    ImageRef& operator=(const ImageRef&) = delete;
    ImageRef(ImageRef&& other) noexcept : image(std::exchange(other.image, nullptr)) {}
    ImageRef& operator=(ImageRef&& other) noexcept {
        std::swap(image, other.image);
        return *this;
    }
    VipsImage* image = nullptr;
};

struct LibraryBuffer {
    ~LibraryBuffer() { g_free(data); }
    void* data = nullptr;
    std::size_t size = 0;
};

// libvips's loader or saver of a format: "heifload_buffer".
std::string operationFor(const PictureFormat& format, const char* direction);

bool libraryHas(const PictureFormat& format, const char* direction);

// For a format the list knows that this build's libvips was made without.
CommandError missingCodec(const std::string& subject, const PictureFormat& format, const char* direction);

}  // namespace crest::cli

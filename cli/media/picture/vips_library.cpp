#include "cli/media/picture/vips_library.h"

#include <mutex>
#include <string_view>

#include "cli/media/picture/image_io.h"

namespace crest::cli {

namespace {

void discardLibraryMessage(const char*, GLogLevelFlags, const char*, gpointer) {}

std::once_flag libraryStarted;
bool libraryRunning = false;

}  // namespace

void startLibrary() {
    std::call_once(libraryStarted, [] {
        if (VIPS_INIT("crestdoubler") != 0)
            throw CommandError("cannot start libvips: " + std::string(vips_error_buffer()));
        libraryRunning = true;
        // Only the formats of the list are ever called, and of the codecs
        // libvips marks as unfit for untrusted files none but libjxl's,
        // which JPEG XL needs (and the fuzz target covers).
        vips_block_untrusted_set(TRUE);
        vips_operation_block_set("VipsForeignLoadJxl", FALSE);
        vips_operation_block_set("VipsForeignSaveJxl", FALSE);
        // Every picture is read and written once: nothing to cache.
        vips_cache_set_max(0);
        // One worker per libvips pipeline: with more, a decoder's failure in
        // one worker is now and then lost and a damaged file (a PNG with a
        // bad chunk checksum) reads as whole. The command runs its own
        // threads: module instances, tiles and PNG stripes.
        vips_concurrency_set(1);
        // The codecs' warnings about well-formed files (a known sRGB profile,
        // an unusual chunk) are not the user's concern; errors still fail.
        g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                              G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                          discardLibraryMessage, nullptr);
    });
}

std::string libraryError() {
    std::string text = vips_error_buffer();
    vips_error_clear();
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    for (auto at = text.find("  "); at != std::string::npos; at = text.find("  ")) text.replace(at, 2, "; ");
    return text.empty() ? "the image library gave no reason" : text;
}

ImageLibraryScope::~ImageLibraryScope() {
    if (libraryRunning) vips_shutdown();
}

std::string operationFor(const PictureFormat& format, const char* direction) {
    return std::string(format.library) + direction + "_buffer";
}

bool libraryHas(const PictureFormat& format, const char* direction) {
    return vips_type_find("VipsOperation", operationFor(format, direction).c_str()) != 0;
}

// For a format the list knows that this build's libvips was made without.
CommandError missingCodec(const std::string& subject, const PictureFormat& format, const char* direction) {
    return CommandError(subject + " is a " + std::string(format.name) + " picture, and this build's libvips (" +
                        vips_version_string() + ") has no " + operationFor(format, direction) + " to " +
                        (std::string_view(direction) == "load" ? "read" : "write") + " it");
}

std::string imageFormatsHelp() {
    startLibrary();
    std::string written, read, missing;
    auto add = [](std::string& list, std::string_view name) { list += (list.empty() ? "" : ", ") + std::string(name); };
    for (const PictureFormat& format : pictureFormats()) {
        if (!libraryHas(format, "load")) add(missing, format.name);
        else if (format.writable && libraryHas(format, "save")) add(written, format.name);
        else add(read, format.name);
    }
    vips_error_clear();
    std::string text = "Picture formats in this build (libvips " + std::string(vips_version_string()) + "):\n";
    if (!written.empty()) text += "  read and written: " + written + "\n";
    if (!read.empty()) text += "  read only:        " + read + "\n";
    if (!missing.empty()) text += "  not in this build: " + missing + "\n";
    return text +
           "Of a picture with several frames (an animated GIF, a multi-page TIFF) the first is\n"
           "enlarged. Pictures keep their alpha, colour profile, EXIF and XMP as far as the\n"
           "output format holds them; the resolution is doubled so that the printed size stays.\n"
           "16-bit pictures are enlarged and written in 8 bits.\n";
}

}  // namespace crest::cli

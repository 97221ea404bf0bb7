// libFuzzer target over the command's picture reading: any bytes, every
// format, decoded as the command decodes an input file. A refused input is a
// CommandError; anything else (a crash, a leak, a sanitizer report, an
// allocation beyond the limits) is a finding.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <new>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/media/picture/image_io.h"

// Smaller than the command's limits, so that each input decodes quickly.
static const crest::cli::DecodeLimits kLimits{1024, 1024};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Shut down at exit, so that the leak checker sees the library's memory returned.
    static const crest::cli::ImageLibraryScope library;
    try {
        crest::cli::PictureReader reader(std::vector<std::uint8_t>(data, data + size), "fuzz input", kLimits);
        // Every row, a few at a time, as the enlargement reads them.
        crest::FrameBitmap colour(reader.width(), 3);
        crest::FrameBitmap alpha(reader.width(), 3);
        crest::FrameBitmap* planes[] = {&colour, &alpha};
        for (std::int32_t y = 0; y < reader.height(); y += 3)
            reader.readRows(planes, 0, std::min(3, reader.height() - y));
    } catch (const crest::cli::CommandError&) {
    }
    return 0;
}

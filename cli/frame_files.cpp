#include "cli/frame_files.h"

#include "cli/command_error.h"
#include "cli/raw_stream.h"

#if CRESTDOUBLER_WITH_PNG
#include "cli/png_io.h"
#endif

namespace crest::cli {

namespace {

#if !CRESTDOUBLER_WITH_PNG
[[noreturn]] void noPngSupport(const std::string& path) {
    throw CommandError("cannot handle " + path + ": PNG support is not built in; use raw frames instead");
}
#endif

}  // namespace

std::unique_ptr<FrameReader> openFrameReader(const Options& options) {
    if (formatOfPath(options.input) == FileFormat::raw)
        return std::make_unique<RawFrameReader>(options.input, *options.rawSize);
#if CRESTDOUBLER_WITH_PNG
    return std::make_unique<PngFrameReader>(options.input);
#else
    noPngSupport(options.input);
#endif
}

std::unique_ptr<FrameWriter> openFrameWriter(const Options& options) {
    if (formatOfPath(options.output) == FileFormat::raw) return std::make_unique<RawFrameWriter>(options.output);
#if CRESTDOUBLER_WITH_PNG
    return std::make_unique<PngFrameWriter>(options.output, options.keepTags);
#else
    noPngSupport(options.output);
#endif
}

}  // namespace crest::cli

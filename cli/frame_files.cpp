#include "cli/frame_files.h"

#include "cli/command_error.h"
#include "cli/path_kind.h"
#include "cli/raw_stream.h"

#if CRESTDOUBLER_WITH_PNG
#include "cli/png_io.h"
#endif

namespace crest::cli {

namespace {

// What this build reads and writes besides raw frames: PNG pictures.
void checkSupported(const std::string& path) {
    const PathKind kind = kindOfPath(path);
    if (kind == PathKind::video)
        throw CommandError("cannot handle " + path + ": video files are not supported by this build");
    if (!CRESTDOUBLER_WITH_PNG || lowerExtension(path) != "png")
        throw CommandError("cannot handle " + path + ": this build reads and writes PNG pictures and raw frames only");
}

}  // namespace

std::unique_ptr<FrameReader> openFrameReader(const Options& options) {
    if (kindOfPath(options.input) == PathKind::raw)
        return std::make_unique<RawFrameReader>(options.input, *options.rawSize);
    checkSupported(options.input);
#if CRESTDOUBLER_WITH_PNG
    return std::make_unique<PngFrameReader>(options.input);
#else
    return nullptr;
#endif
}

std::unique_ptr<FrameWriter> openFrameWriter(const Options& options) {
    if (kindOfPath(options.output) == PathKind::raw) return std::make_unique<RawFrameWriter>(options.output);
    checkSupported(options.output);
#if CRESTDOUBLER_WITH_PNG
    return std::make_unique<PngFrameWriter>(options.output, options.keepTags);
#else
    return nullptr;
#endif
}

}  // namespace crest::cli

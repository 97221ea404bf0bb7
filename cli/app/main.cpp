// crestdoubler: enlarges pictures and raw frame streams 2:1 through the filter module.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "cli/app/command_error.h"
#include "cli/app/file_access.h"
#include "cli/hosting/filter_host.h"
#include "cli/pipeline/frame_pipeline.h"
#include "cli/media/picture/image_io.h"
#if CRESTDOUBLER_WITH_VIDEO
#include "cli/media/film/film_transcoder.h"
#endif
#include "cli/hosting/module_loader.h"
#include "cli/app/options.h"
#include "cli/app/path_kind.h"
#include "cli/media/raw/raw_stream.h"
#include "cli/media/picture/still_images.h"
#include "cli/app/temporary_output.h"

#ifndef CRESTDOUBLER_VERSION
#define CRESTDOUBLER_VERSION "unknown"
#endif

namespace crest::cli {
namespace {

void checkDistinctFiles(const Options& options) {
    if (options.input == "-" || options.output == "-") return;
    std::error_code error;
    if (options.input == options.output || std::filesystem::equivalent(options.input, options.output, error))
        throw CommandError("input and output are the same file, " + options.output + "; the input would be lost",
                           ExitStatus::usage);
}

// A raw stream: several instances side by side, progress on a terminal.
void enlargeRawStream(const Options& options) {
    RawFrameReader reader(options.input, *options.rawSize);
    RawFrameWriter writer(options.output);
    const FilterModule module(options.modulePath.value_or(defaultModulePath()));
    enlargeWholeStream(reader, writer, module, options.threads, 0);
}

// Whether the run is film to film; the film options only make sense then.
bool checkFilmPaths(const Options& options) {
    const bool filmIn = kindOfPath(options.input) == PathKind::video;
    const bool filmOut = kindOfPath(options.output) == PathKind::video;
    if (filmOut && isImageSequencePattern(options.output))
        throw CommandError("an image sequence cannot be OUTPUT, " + options.output +
                               "; write a film, or raw frames for another program",
                           ExitStatus::usage);
    if (filmIn != filmOut)
        throw CommandError(std::string("a film is enlarged into a film: ") + (filmIn ? options.output : options.input) +
                               " is not named as one",
                           ExitStatus::usage);
    const bool filmOptions = options.codec || options.crf || options.preset || !options.encoderOptions.empty() ||
                             options.streamIndex || options.startSeconds || options.firstFrame || options.frameLimit || options.videoOnly;
    if (filmOptions && !filmIn)
        throw CommandError("--codec, --crf, --preset, --encoder-option, --stream, --start, --first-frame, --frames and --video-only are for "
                           "films",
                           ExitStatus::usage);
    return filmIn;
}

ExitStatus enlargeFrames(const Options& options) {
    if (options.outputFolder) return enlargeImagesIntoFolder(options);
    checkDistinctFiles(options);
    checkOutputFolder(options.output);
    if (checkFilmPaths(options)) {
#if CRESTDOUBLER_WITH_VIDEO
        enlargeFilm(options);
        return ExitStatus::success;
#else
        throw CommandError("cannot handle " + options.input + ": video files are not supported by this build");
#endif
    }
    if (kindOfPath(options.input) != PathKind::raw)
        enlargeImageFile(options);
    else if (kindOfPath(options.output) == PathKind::image)
        enlargeRawFrameIntoPicture(options);
    else
        enlargeRawStream(options);
    return ExitStatus::success;
}

ExitStatus run(const std::vector<std::string>& arguments) {
    const Options options = parseOptions(arguments);
    if (options.showHelp) {
        std::fputs((usageText() + "\n" + imageFormatsHelp()).c_str(), stdout);
        return ExitStatus::success;
    }
    if (options.showVersion) {
        std::printf("crestdoubler %s (host interface version %d)\n", CRESTDOUBLER_VERSION,
                    static_cast<int>(kHostInterfaceVersion));
        return ExitStatus::success;
    }
    const ExitStatus status = enlargeFrames(options);
    if (std::fflush(stdout) != 0) throw CommandError("cannot write to standard output: " + systemReason(errno));
    return status;
}

}  // namespace
}  // namespace crest::cli

int main(int argc, char** argv) {
    using namespace crest::cli;
#if defined(SIGPIPE)
    // A reader that goes away becomes a write error with a message, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#if defined(SIGXFSZ)
    // So does a file size limit, like a full disk; the partial output is then removed.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    removeTemporaryOutputsOnSignals();
    useBinaryStandardStreams();
    const ImageLibraryScope imageLibrary;
    try {
        return static_cast<int>(run(std::vector<std::string>(argv + 1, argv + argc)));
    } catch (const CommandError& error) {
        std::fprintf(stderr, "crestdoubler: %s\n", error.what());
        return static_cast<int>(error.status());
    } catch (const std::bad_alloc&) {
        std::fputs("crestdoubler: out of memory\n", stderr);
        return static_cast<int>(ExitStatus::failure);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crestdoubler: %s\n", error.what());
        return static_cast<int>(ExitStatus::failure);
    }
}

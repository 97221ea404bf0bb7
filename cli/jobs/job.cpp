#include "cli/jobs/job.h"

#include <filesystem>
#include <utility>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/jobs/path_kind.h"

namespace crest::cli {

namespace {

[[noreturn]] void usageError(const std::string& message) {
    throw CommandError(message + " (see crestdoubler --help)", ExitStatus::usage);
}

void checkDistinctFiles(const std::string& input, const std::string& output) {
    if (input == "-" || output == "-") return;
    std::error_code error;
    if (input == output || std::filesystem::equivalent(input, output, error))
        throw CommandError("input and output are the same file, " + output + "; the input would be lost",
                           ExitStatus::usage);
}

// A film is enlarged into a film, and the film settings only make sense then.
void checkFilmPaths(const std::string& input, PathKind inputKind, const std::string& output, PathKind outputKind,
                    const FilmSettings& film) {
    const bool filmIn = inputKind == PathKind::video;
    const bool filmOut = outputKind == PathKind::video;
    if (filmOut && isImageSequencePattern(output))
        throw CommandError("an image sequence cannot be OUTPUT, " + output +
                               "; write a film, or raw frames for another program",
                           ExitStatus::usage);
    if (filmIn != filmOut)
        throw CommandError(std::string("a film is enlarged into a film: ") + (filmIn ? output : input) +
                               " is not named as one",
                           ExitStatus::usage);
    if (film.any() && !filmIn)
        throw CommandError("--codec, --crf, --preset, --encoder-option, --stream, --start, --first-frame, --frames, "
                           "--video-only and --restart are for films",
                           ExitStatus::usage);
}

}  // namespace

Job makeJob(std::string input, std::string output, JobSettings settings) {
    const PathKind inputKind = kindOfPath(input);
    const PathKind outputKind = kindOfPath(output);
    if (inputKind == PathKind::raw && !settings.rawSize)
        usageError("raw input " + describePath(input, true) + " needs --size WIDTHxHEIGHT");
    if (inputKind != PathKind::raw && settings.rawSize)
        usageError("--size applies to raw input only; " + input + " carries its own size");
    checkDistinctFiles(input, output);
    checkOutputFolder(output);
    checkFilmPaths(input, inputKind, output, outputKind, settings.film);

    Job job;
    if (inputKind == PathKind::video)
        job.kind = JobKind::film;
    else if (inputKind == PathKind::image)
        job.kind = outputKind == PathKind::image ? JobKind::picture : JobKind::pictureToRaw;
    else
        job.kind = outputKind == PathKind::image ? JobKind::rawFrameToPicture : JobKind::rawStream;
    job.input = std::move(input);
    job.output = std::move(output);
    job.settings = std::move(settings);
    return job;
}

const char* progressUnitOf(JobKind kind) {
    return kind == JobKind::film || kind == JobKind::rawStream ? "frames" : "rows";
}

}  // namespace crest::cli

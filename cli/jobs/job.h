// A job: what is read, what is written, and with which settings. Built and
// checked once, by whichever front end takes the request, and run by
// runJob (cli/jobs/job_runner.h) on the pool the run shares.
#pragma once

#include <optional>
#include <string>

#include "cli/base/frame_size.h"
#include "cli/base/scale.h"
#include "cli/media/film/film_settings.h"
#include "cli/media/picture/still_images.h"

namespace crest::cli {

enum class JobKind {
    picture,            // a picture into a picture
    pictureToRaw,       // a picture into raw frame words
    rawFrameToPicture,  // one raw frame into a picture
    rawStream,          // raw frames into raw frames
    film,               // a film into a film
};

struct JobSettings {
    std::optional<FrameSize> rawSize;  // the frame size of raw input
    ScaleRequest scale;
    PictureSettings picture;
    FilmSettings film;
};

struct Job {
    JobKind kind = JobKind::picture;
    std::string input;   // a path, or "-" for standard input
    std::string output;  // a path, or "-" for standard output
    JobSettings settings;
};

// Decides what input and output stand for, once, and checks that they make
// a job with these settings: raw input has a size, film options go with
// films, the output's folder exists and is not the input. Throws
// CommandError, with ExitStatus::usage for what the request itself gets wrong.
Job makeJob(std::string input, std::string output, JobSettings settings);

// The plural noun a job's progress counts: "frames" or "rows".
const char* progressUnitOf(JobKind kind);

}  // namespace crest::cli

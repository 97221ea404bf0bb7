// Enlarging pictures: one file into another, or many files into a folder.
#pragma once

#include "cli/app/command_error.h"
#include "cli/app/options.h"

namespace crest::cli {

// INPUT is a picture; OUTPUT a picture or a raw stream. The picture is cut
// into bands and tiles for --threads instances. Throws CommandError.
void enlargeImageFile(const Options& options);

// INPUT is a raw stream of one frame; OUTPUT a picture. Throws CommandError.
void enlargeRawFrameIntoPicture(const Options& options);

// -o OUTDIR IMAGE|FOLDER...: each picture into OUTDIR under its own name,
// up to --threads files side by side on one pool of --threads instances. A file that fails is reported on
// stderr and the others go on; the status is failure if any failed.
ExitStatus enlargeImagesIntoFolder(const Options& options);

}  // namespace crest::cli

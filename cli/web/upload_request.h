// What an upload asks for: its fields read with the command's bounds and
// defaults.
#pragma once

#include "cli/web/upload_receiver.h"
#include "cli/web/web_job.h"

namespace crest::cli {

// format defaults to the input's extension for pictures and to mkv for films.
// Throws CommandError with ExitStatus::usage for a field out of bounds.
WebJobRequest requestOf(const UploadReceiver& upload);

}  // namespace crest::cli

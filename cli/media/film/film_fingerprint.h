// What a film's pieces were made from, as text: the input's identity (not
// its path) and everything that changes the encoded bits. Pieces made from
// another fingerprint are never mixed with these.
#pragma once

#include <cstdint>
#include <string>

#include "cli/media/film/film_settings.h"
#include "cli/media/film/libav_handles.h"
#include "cli/media/film/video_encoding.h"

namespace crest::cli {

struct FilmFingerprintParts {
    const std::string& input;
    const AVFormatContext& format;
    const FilmSelection& selection;
    const VideoEncoding& encoding;
    std::int64_t pieceFrames;
    const std::string& modulePath;
};

// One line per part, "NAME details"; the first that differs names what changed.
std::string filmFingerprint(const FilmFingerprintParts& parts);

// What changed, for a message, from the name of the first line that differs.
std::string describeFingerprintChange(const std::string& name);

}  // namespace crest::cli

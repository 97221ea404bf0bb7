// The narrow settings the film code takes from the command line: how the
// enlarged video is encoded, and which part of the source is enlarged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/app/options.h"

namespace crest::cli {

struct FilmEncoding {
    std::optional<std::string> codec;  // the container's default when empty
    std::optional<int> crf;
    std::optional<std::string> preset;
    std::vector<EncoderOption> encoderOptions;
};

struct FilmSelection {
    std::optional<int> stream;
    std::optional<double> startSeconds;
    std::optional<std::int64_t> firstFrame;
    std::optional<std::int64_t> frameLimit;
    bool videoOnly = false;
};

FilmEncoding filmEncodingOf(const Options& options);
FilmSelection filmSelectionOf(const Options& options);

}  // namespace crest::cli

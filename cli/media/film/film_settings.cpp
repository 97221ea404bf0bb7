#include "cli/media/film/film_settings.h"

namespace crest::cli {

FilmEncoding filmEncodingOf(const Options& options) {
    return FilmEncoding{options.codec, options.crf, options.preset, options.encoderOptions};
}

FilmSelection filmSelectionOf(const Options& options) {
    return FilmSelection{options.streamIndex, options.startSeconds, options.firstFrame, options.frameLimit,
                         options.videoOnly};
}

}  // namespace crest::cli

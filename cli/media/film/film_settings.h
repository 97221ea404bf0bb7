// What a film job chooses: how the enlarged video is encoded, which part of
// the source is enlarged, and what becomes of the pieces of an earlier run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crest::cli {

// An encoder setting passed on as it stands: --encoder-option KEY=VALUE.
struct EncoderOption {
    std::string key;
    std::string value;
};

struct FilmEncoding {
    std::optional<std::string> codec;  // the container's default when empty
    std::optional<int> crf;
    std::optional<std::string> preset;
    std::vector<EncoderOption> encoderOptions;
};

struct FilmSelection {
    std::optional<int> stream;               // --stream N
    std::optional<double> startSeconds;      // --start TIME
    std::optional<std::int64_t> firstFrame;  // --first-frame N, counted from 0
    std::optional<std::int64_t> frameLimit;  // --frames N
    bool videoOnly = false;                  // no other streams, chapters or metadata
};

struct FilmSettings {
    FilmEncoding encoding;
    FilmSelection selection;
    bool restart = false;  // --restart: the earlier run's pieces are thrown away
    // For tests and the cluster scripts: the piece length in frames; and
    // "K/N" to make only the K-th of N shares of the pieces, "plan" to count
    // them, "join" only to join them.
    std::optional<std::int64_t> pieceFrames;
    std::optional<std::string> pieces;

    // Whether any setting was given: they are for films only.
    bool any() const {
        return encoding.codec || encoding.crf || encoding.preset || !encoding.encoderOptions.empty() ||
               selection.stream || selection.startSeconds || selection.firstFrame || selection.frameLimit ||
               selection.videoOnly || restart || pieceFrames || pieces;
    }
};

}  // namespace crest::cli

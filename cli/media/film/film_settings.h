// What a film job chooses: which part of the input is enlarged, and how the
// enlargement is encoded.
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

struct FilmSettings {
    // The encoding.
    std::optional<std::string> codec;
    std::optional<int> crf;
    std::optional<std::string> preset;
    std::vector<EncoderOption> encoderOptions;
    // What is read.
    std::optional<int> streamIndex;          // --stream N
    std::optional<double> startSeconds;      // --start TIME
    std::optional<std::int64_t> firstFrame;  // --first-frame N, counted from 0
    std::optional<std::int64_t> frameLimit;  // --frames N
    bool videoOnly = false;                  // no other streams, chapters or metadata

    // Whether any of the settings above was given: they are for films only.
    bool any() const {
        return codec || crf || preset || !encoderOptions.empty() || streamIndex || startSeconds || firstFrame ||
               frameLimit || videoOnly;
    }
};

}  // namespace crest::cli

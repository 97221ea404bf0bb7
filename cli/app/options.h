// The command line: what to enlarge, where to, and how.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crest::cli {

// Largest source frame the module takes at once, so the largest raw frame or
// film frame, checked before any pixel storage is made; pictures beyond it
// go in tiles. Its enlargement, 32768 x 16384, is within what the module can address.
inline constexpr std::int32_t kMaxSourceWidth = 16384;
inline constexpr std::int32_t kMaxSourceHeight = 8192;

// Most filter instances --threads may ask for; each holds frames of its own.
inline constexpr int kMaxThreads = 64;

struct FrameSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// An encoder setting passed on as it stands: --encoder-option KEY=VALUE.
struct EncoderOption {
    std::string key;
    std::string value;
};

struct Options {
    bool showHelp = false;
    bool showVersion = false;
    bool keepTags = false;
    std::optional<FrameSize> rawSize;
    std::optional<std::string> modulePath;
    int threads = 1;  // filter instances enlarging side by side
    std::string input;
    std::string output;

    // -o OUTDIR IMAGE...: each input (a file or a folder of pictures) is
    // written into outputFolder under its own name, with suffix before the
    // extension. input and output are unused then.
    std::optional<std::string> outputFolder;
    std::vector<std::string> inputs;
    std::string suffix;

    // Pictures.
    std::optional<int> quality;  // --quality, 1 to 100, for lossy formats

    // Films.
    std::optional<std::string> codec;
    std::optional<int> crf;
    std::optional<std::string> preset;
    std::vector<EncoderOption> encoderOptions;
    std::optional<int> streamIndex;        // --stream N
    std::optional<double> startSeconds;    // --start TIME
    std::optional<std::int64_t> firstFrame;  // --first-frame N, counted from 0
    bool videoOnly = false;                  // --video-only: no other streams, chapters or metadata
    std::optional<std::int64_t> frameLimit;  // --frames N
    bool restart = false;                    // --restart: the earlier run's pieces are thrown away
    // Hidden, for tests and the cluster scripts: --piece-frames N sets the
    // piece length; --pieces K/N makes only the K-th of N shares of the
    // pieces, --pieces plan counts them, --pieces join only joins them.
    std::optional<std::int64_t> pieceFrames;
    std::optional<std::string> pieces;
};

// Throws CommandError with ExitStatus::usage on anything it cannot accept.
Options parseOptions(const std::vector<std::string>& arguments);

// "640x360" to a size within the limits above.
FrameSize parseFrameSize(const std::string& text);

// "4" to a thread count from 1 to kMaxThreads.
int parseThreadCount(const std::string& text);

// One instance per core, at least one and at most kMaxThreads.
int defaultThreadCount();

// "90", "1:30", "0:01:30.5": seconds, at least 0. Throws CommandError naming option.
double parseTime(const std::string& text, const std::string& option);

std::string usageText();

}  // namespace crest::cli

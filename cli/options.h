// The command line: what to enlarge, where to, and how.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crest::cli {

// Largest source frame accepted, checked before any pixel storage is made.
// Its enlargement, 32768 x 16384, is within what the module can address.
inline constexpr std::int32_t kMaxSourceWidth = 16384;
inline constexpr std::int32_t kMaxSourceHeight = 8192;

// Most filter instances --threads may ask for; each holds frames of its own.
inline constexpr int kMaxThreads = 64;

struct FrameSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

enum class FileFormat { png, raw };

struct Options {
    bool showHelp = false;
    bool showVersion = false;
    bool keepTags = false;
    std::optional<FrameSize> rawSize;
    std::optional<std::string> modulePath;
    int threads = 1;  // filter instances enlarging raw frames side by side
    std::string input;
    std::string output;
};

// Throws CommandError with ExitStatus::usage on anything it cannot accept.
Options parseOptions(const std::vector<std::string>& arguments);

// "640x360" to a size within the limits above.
FrameSize parseFrameSize(const std::string& text);

// "4" to a thread count from 1 to kMaxThreads.
int parseThreadCount(const std::string& text);

// One instance per core, at least one and at most kMaxThreads.
int defaultThreadCount();

// A path ending in .png (any letter case) is a PNG image; anything else,
// "-" included, is a raw stream.
FileFormat formatOfPath(const std::string& path);

std::string usageText();

}  // namespace crest::cli

// The command line: what to enlarge, where to, and how.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/base/frame_size.h"
#include "cli/jobs/folder_jobs.h"
#include "cli/jobs/job.h"

namespace crest::cli {

// Most filter instances --threads may ask for; each holds frames of its own.
inline constexpr int kMaxThreads = 64;

// Largest --width or --height: the 16-fold enlargement of the largest picture side.
inline constexpr std::int32_t kMaxTargetSide = 1 << 24;

struct Options {
    bool showHelp = false;
    bool showVersion = false;
    std::optional<std::string> modulePath;
    int threads = 1;  // filter instances enlarging side by side
    bool skipExisting = false;  // an output that exists is left alone

    // INPUT OUTPUT: one job.
    std::string input;
    std::string output;
    // -o OUTDIR IMAGE|FOLDER...: a folder run; input and output are unused then.
    std::optional<FolderRequest> folder;

    JobSettings settings;
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

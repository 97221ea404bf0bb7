// A job's progress on one self-overwriting line of stderr, shown only when
// stderr is a terminal: units done (of the total when known), the rate and
// the time left.
#pragma once

#include <chrono>
#include <string>

#include "cli/base/progress.h"

namespace crest::cli {

class ProgressLine {
public:
    // Watches progress while it lives; shows nothing unless enabled (see
    // stderrIsTerminal()). unit is plural: "frames", "pictures".
    ProgressLine(Progress& progress, std::string unit, bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Shows the final count and ends the line on success; on failure only
    // ends a line already shown, so the error message starts on its own.
    void finish(bool success);

private:
    void update(const ProgressReading& reading);
    void show(const ProgressReading& reading);

    Progress& progress_;
    std::string unit_;
    bool enabled_;
    bool shown_ = false;
    int lastLength_ = 0;
    std::chrono::steady_clock::time_point lastShown_;
};

bool stderrIsTerminal();

}  // namespace crest::cli

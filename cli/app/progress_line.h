// Frames done and frames per second on one self-overwriting line of stderr,
// shown only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>

namespace crest::cli {

class ProgressLine {
public:
    // Shows nothing unless enabled; see stderrIsTerminal().
    explicit ProgressLine(bool enabled);

    // The number of frames the run will write, when known beforehand: the
    // line then shows it and the time left.
    void setTotal(std::int64_t totalFrames) { totalFrames_ = totalFrames; }

    // After each frame written, in order, from one thread at a time.
    void frameDone(std::int64_t framesDone);

    // Shows the final count and ends the line on success; on failure only
    // ends a line already shown, so the error message starts on its own.
    void finish(bool success);

private:
    using Clock = std::chrono::steady_clock;
    void show(std::int64_t framesDone, Clock::time_point now);

    bool enabled_;
    bool shown_ = false;
    std::int64_t framesDone_ = 0;
    std::int64_t totalFrames_ = 0;
    int lastLength_ = 0;
    Clock::time_point start_;
    Clock::time_point lastShown_;
};

bool stderrIsTerminal();

}  // namespace crest::cli

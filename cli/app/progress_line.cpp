#include "cli/app/progress_line.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace crest::cli {

namespace {

// Often enough to look alive, rarely enough to cost nothing.
constexpr std::chrono::milliseconds kShowInterval{250};

}  // namespace

bool stderrIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

ProgressLine::ProgressLine(bool enabled) : enabled_(enabled), start_(Clock::now()), lastShown_(start_) {}

void ProgressLine::frameDone(std::int64_t framesDone) {
    framesDone_ = framesDone;
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - lastShown_ >= kShowInterval) show(framesDone, now);
}

void ProgressLine::finish(bool success) {
    if (!enabled_) return;
    if (success) show(framesDone_, Clock::now());
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
}

void ProgressLine::show(std::int64_t framesDone, Clock::time_point now) {
    lastShown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(framesDone) / seconds : 0.0;
    // Spaces rather than a terminal escape clear what is left of a longer line,
    // which also works in consoles without escape sequences.
    char line[128];
    int length;
    if (totalFrames_ > 0 && rate > 0) {
        const long long left = static_cast<long long>(
            static_cast<double>(totalFrames_ > framesDone ? totalFrames_ - framesDone : 0) / rate + 0.5);
        length = std::snprintf(line, sizeof line, "\rcrestdoubler: %lld/%lld frames, %.1f frames/s, %lld:%02lld left",
                               static_cast<long long>(framesDone), static_cast<long long>(totalFrames_), rate,
                               left / 60, left % 60);
    } else {
        length = std::snprintf(line, sizeof line, "\rcrestdoubler: %lld frames, %.1f frames/s",
                               static_cast<long long>(framesDone), rate);
    }
    if (length < 0) return;
    if (length >= static_cast<int>(sizeof line)) length = static_cast<int>(sizeof line) - 1;
    const int visible = length - 1;
    const int padding = lastLength_ > visible ? lastLength_ - visible : 0;
    lastLength_ = visible;
    std::fprintf(stderr, "%s%*s", line, padding, "");
    std::fflush(stderr);
    shown_ = true;
}

}  // namespace crest::cli

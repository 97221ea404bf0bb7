#include "cli/command/progress_line.h"

#include <cstdio>
#include <utility>

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

ProgressLine::ProgressLine(Progress& progress, std::string unit, bool enabled)
    : progress_(progress), unit_(std::move(unit)), enabled_(enabled), lastShown_(std::chrono::steady_clock::now()) {
    if (enabled_) progress_.watch([this](const ProgressReading& reading) { update(reading); });
}

ProgressLine::~ProgressLine() {
    if (enabled_) progress_.watch(nullptr);
}

void ProgressLine::update(const ProgressReading& reading) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown_ < kShowInterval) return;
    lastShown_ = now;
    show(reading);
}

void ProgressLine::finish(bool success) {
    if (!enabled_) return;
    progress_.watch(nullptr);
    if (success) show(progress_.reading());
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
}

void ProgressLine::show(const ProgressReading& reading) {
    // Spaces rather than a terminal escape clear what is left of a longer line,
    // which also works in consoles without escape sequences.
    char line[160];
    int length;
    const char* unit = unit_.c_str();
    if (reading.secondsLeft) {
        const auto left = static_cast<long long>(*reading.secondsLeft + 0.5);
        length = std::snprintf(line, sizeof line, "\rcrestdoubler: %lld/%lld %s, %.1f %s/s, %lld:%02lld left",
                               static_cast<long long>(reading.done), static_cast<long long>(reading.total), unit,
                               reading.rate, unit, left / 60, left % 60);
    } else {
        length = std::snprintf(line, sizeof line, "\rcrestdoubler: %lld %s, %.1f %s/s",
                               static_cast<long long>(reading.done), unit, reading.rate, unit);
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

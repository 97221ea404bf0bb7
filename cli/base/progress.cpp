#include "cli/base/progress.h"

#include <utility>

#include "cli/base/command_error.h"

namespace crest::cli {

Progress::Progress() : start_(Clock::now()) {}

void Progress::watch(Watcher watcher) {
    const std::lock_guard lock(mutex_);
    watcher_ = std::move(watcher);
}

void Progress::setTotal(std::int64_t total) {
    const std::lock_guard lock(mutex_);
    total_ = total;
    changed();
}

void Progress::setDone(std::int64_t done) {
    const std::lock_guard lock(mutex_);
    done_ = done;
    changed();
}

void Progress::advance(std::int64_t units) {
    const std::lock_guard lock(mutex_);
    done_ += units;
    changed();
}

void Progress::restartClock() {
    const std::lock_guard lock(mutex_);
    start_ = Clock::now();
}

ProgressReading Progress::reading() const {
    const std::lock_guard lock(mutex_);
    return readingLocked(Clock::now());
}

void Progress::throwIfCancelled() const {
    if (cancelled_) throw JobCancelled();
}

ProgressReading Progress::readingLocked(Clock::time_point now) const {
    ProgressReading reading;
    reading.done = done_;
    reading.total = total_;
    reading.seconds = std::chrono::duration<double>(now - start_).count();
    reading.rate = reading.seconds > 0 ? static_cast<double>(done_) / reading.seconds : 0.0;
    if (total_ > 0 && reading.rate > 0)
        reading.secondsLeft = static_cast<double>(total_ > done_ ? total_ - done_ : 0) / reading.rate;
    return reading;
}

void Progress::changed() {
    if (watcher_) watcher_(readingLocked(Clock::now()));
}

}  // namespace crest::cli

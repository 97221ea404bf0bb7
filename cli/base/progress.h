// How far a job has come: units done of a total, the rate and the time left.
// One model for every front end: the command's terminal line watches it,
// the page reads it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace crest::cli {

struct ProgressReading {
    std::int64_t done = 0;
    std::int64_t total = 0;  // 0: not known
    double seconds = 0;      // since the start
    double rate = 0;         // units a second
    // Known once there is a total and a rate.
    std::optional<double> secondsLeft;
    // Done of total, 0 to 1; 0 while the total is unknown.
    double fraction() const { return total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0; }
};

class Progress {
public:
    using Clock = std::chrono::steady_clock;
    using Watcher = std::function<void(const ProgressReading&)>;

    Progress();

    // Called, under the model's lock, after every change; a watcher must be
    // quick and must not call back into the model.
    void watch(Watcher watcher);

    void setTotal(std::int64_t total);
    void setDone(std::int64_t done);
    void advance(std::int64_t units = 1);
    // Starts the clock again, for work that begins only after a long set-up.
    void restartClock();

    ProgressReading reading() const;

    // Asked from any thread; the job stops at its next unit and fails with
    // JobCancelled.
    void cancel() { cancelled_ = true; }
    bool cancelled() const { return cancelled_; }
    // Throws JobCancelled once cancel() was called.
    void throwIfCancelled() const;

private:
    ProgressReading readingLocked(Clock::time_point now) const;
    void changed();

    mutable std::mutex mutex_;
    Watcher watcher_;
    Clock::time_point start_;
    std::int64_t done_ = 0;
    std::int64_t total_ = 0;
    std::atomic<bool> cancelled_ = false;
};

}  // namespace crest::cli

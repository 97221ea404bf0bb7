// Threads that each own one filter instance, taking jobs in the order given.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/hosting/filter_host.h"

namespace crest::cli {

// What a job runs with: the thread's instances, each made on its first use,
// and a bitmap the job may keep its source in.
class PoolWorker {
public:
    PoolWorker(const FilterModule& module, std::size_t index) : module_(module), index_(index) {}
    // From 0 to the pool's size less one, for state a caller keeps per worker.
    std::size_t index() const { return index_; }
    // A frame doubled again goes through a second instance, which reads the
    // first one's destination: an instance for each pass.
    FilterInstance& instance(std::size_t pass = 0) {
        if (instances_.size() <= pass) instances_.resize(pass + 1);
        if (instances_[pass] == nullptr) instances_[pass] = std::make_unique<FilterInstance>(module_);
        return *instances_[pass];
    }
    // A bitmap of the given size, kept from job to job.
    FrameBitmap& scratch(std::int32_t width, std::int32_t height) {
        if (scratch_ == nullptr || scratch_->width != width || scratch_->height != height)
            scratch_ = std::make_unique<FrameBitmap>(width, height);
        return *scratch_;
    }

private:
    const FilterModule& module_;
    const std::size_t index_;
    std::vector<std::unique_ptr<FilterInstance>> instances_;
    std::unique_ptr<FrameBitmap> scratch_;
};

// One pool serves a whole run: the frames of a stream, the bands of a
// picture, the pictures of a folder and the stripes their encoders hand out.
// Jobs start in the order submitted, and are handed to it through a
// JobGroup, which turns a job's exception into that job's failure.
class InstancePool {
public:
    InstancePool(const FilterModule& module, int instances);
    // Waits for the jobs submitted to finish.
    ~InstancePool();
    InstancePool(const InstancePool&) = delete;
    InstancePool& operator=(const InstancePool&) = delete;

    int size() const { return static_cast<int>(workers_.size()); }

private:
    friend class JobGroup;
    void submit(std::function<void(PoolWorker&)> job);
    void work(PoolWorker& worker);

    std::vector<std::unique_ptr<PoolWorker>> workers_;
    std::mutex mutex_;
    std::condition_variable jobReady_;
    std::deque<std::function<void(PoolWorker&)>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Jobs of one caller on a pool: counts those in flight, keeps the error of
// the earliest that failed (by the rank the caller gives) and lets the
// caller wait for all of them, so that nothing a job touches goes away
// before it ends.
class JobGroup {
public:
    explicit JobGroup(InstancePool& pool) : pool_(pool) {}
    ~JobGroup() { wait(); }
    JobGroup(const JobGroup&) = delete;
    JobGroup& operator=(const JobGroup&) = delete;

    // Runs job on the pool; once a job has failed, later ones are skipped.
    void submit(std::size_t rank, std::function<void(PoolWorker&)> job);
    // Blocks until every job submitted so far has ended.
    void wait();
    // Blocks until at most `count` jobs are in flight.
    void waitUntilAtMost(std::size_t count);
    bool failed();
    // Rethrows the earliest failure, if any.
    void rethrow();

private:
    void finished(std::size_t rank, std::exception_ptr error);

    InstancePool& pool_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t inFlight_ = 0;
    std::size_t failedRank_ = SIZE_MAX;
    std::exception_ptr error_;
};

}  // namespace crest::cli

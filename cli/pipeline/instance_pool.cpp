#include "cli/pipeline/instance_pool.h"

#include <algorithm>
#include <exception>

namespace crest::cli {

InstancePool::InstancePool(const FilterModule& module, int instances) {
    const int count = std::max(instances, 1);
    for (int i = 0; i < count; ++i)
        workers_.push_back(std::make_unique<PoolWorker>(module, static_cast<std::size_t>(i)));
    try {
        for (auto& worker : workers_) threads_.emplace_back([this, &worker] { work(*worker); });
    } catch (...) {
        // Fewer threads: those that started take every job.
        if (threads_.empty()) throw;
    }
}

InstancePool::~InstancePool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    jobReady_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void InstancePool::submit(std::function<void(PoolWorker&)> job) {
    {
        const std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    jobReady_.notify_one();
}

void InstancePool::work(PoolWorker& worker) {
    for (;;) {
        std::function<void(PoolWorker&)> job;
        {
            std::unique_lock lock(mutex_);
            jobReady_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job(worker);
    }
}

void JobGroup::submit(std::size_t rank, std::function<void(PoolWorker&)> job) {
    {
        const std::lock_guard lock(mutex_);
        ++inFlight_;
    }
    try {
        pool_.submit([this, rank, job = std::move(job)](PoolWorker& worker) {
            std::exception_ptr error;
            if (!failed()) {
                try {
                    job(worker);
                } catch (...) {
                    error = std::current_exception();
                }
            }
            finished(rank, error);
        });
    } catch (...) {
        finished(rank, std::current_exception());
    }
}

void JobGroup::finished(std::size_t rank, std::exception_ptr error) {
    // Notified under the lock: once the count reaches zero a waiter may
    // destroy the group.
    const std::lock_guard lock(mutex_);
    --inFlight_;
    if (error && rank < failedRank_) {
        failedRank_ = rank;
        error_ = error;
    }
    changed_.notify_all();
}

void JobGroup::wait() { waitUntilAtMost(0); }

void JobGroup::waitUntilAtMost(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return inFlight_ <= count; });
}

bool JobGroup::failed() {
    const std::lock_guard lock(mutex_);
    return error_ != nullptr;
}

void JobGroup::rethrow() {
    const std::lock_guard lock(mutex_);
    if (error_) std::rethrow_exception(error_);
}

}  // namespace crest::cli

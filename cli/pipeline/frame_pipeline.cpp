#include "cli/pipeline/frame_pipeline.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace crest::cli {

namespace {

constexpr std::int64_t kNoError = std::numeric_limits<std::int64_t>::max();

class StreamPipeline {
public:
    StreamPipeline(SequentialFrameReader& reader, FrameWriter& writer, const FilterModule& module, int threads,
                   ProgressLine& progress)
        : reader_(reader),
          writer_(writer),
          module_(module),
          progress_(progress),
          threadCount_(static_cast<std::size_t>(threads)),
          slotLimit_(2 * threadCount_) {
        // Reserved once, so the steady state allocates nothing.
        slots_.reserve(slotLimit_);
        freeSlots_.reserve(slotLimit_);
        jobs_.resize(slotLimit_);
        workers_.reserve(threadCount_);
    }

    ~StreamPipeline() { stopAndJoin(); }
    StreamPipeline(const StreamPipeline&) = delete;
    StreamPipeline& operator=(const StreamPipeline&) = delete;

    void run() {
        try {
            for (std::size_t i = 0; i < threadCount_; ++i) workers_.emplace_back([this] { work(); });
            readFrames();
        } catch (...) {
            // A thread that could not start; frame 0 ranks before every frame.
            fail(0, std::current_exception());
        }
        stopAndJoin();
        if (error_) std::rethrow_exception(error_);
    }

private:
    struct Job {
        std::int64_t frameNumber = 0;
        FrameBitmap* source = nullptr;
        FrameTiming timing;
    };

    // Records an error unless one of an earlier frame is already known.
    void fail(std::int64_t frameNumber, std::exception_ptr error) {
        {
            const std::lock_guard lock(mutex_);
            if (frameNumber >= errorFrame_) return;
            errorFrame_ = frameNumber;
            error_ = std::move(error);
        }
        slotFreed_.notify_all();
        turnChanged_.notify_all();
    }

    void stopAndJoin() {
        {
            const std::lock_guard lock(mutex_);
            readingDone_ = true;
        }
        jobReady_.notify_all();
        for (std::thread& worker : workers_)
            if (worker.joinable()) worker.join();
    }

    // A free source bitmap, a new one while fewer than the limit exist, or
    // null once an error has stopped the stream.
    FrameBitmap* takeSlot() {
        std::unique_lock lock(mutex_);
        slotFreed_.wait(lock, [&] {
            return errorFrame_ != kNoError || !freeSlots_.empty() || slots_.size() < slotLimit_;
        });
        if (errorFrame_ != kNoError) return nullptr;
        if (!freeSlots_.empty()) {
            FrameBitmap* slot = freeSlots_.back();
            freeSlots_.pop_back();
            return slot;
        }
        const FrameSize size = reader_.frameSize();
        slots_.push_back(std::make_unique<FrameBitmap>(size.width, size.height));
        return slots_.back().get();
    }

    void releaseSlot(FrameBitmap* slot) {
        {
            const std::lock_guard lock(mutex_);
            freeSlots_.push_back(slot);
        }
        slotFreed_.notify_one();
    }

    void readFrames() {
        for (std::int64_t frameNumber = 1;; ++frameNumber) {
            FrameBitmap* slot = nullptr;
            FrameTiming timing;
            bool gotFrame = false;
            try {
                slot = takeSlot();
                if (slot == nullptr) return;
                gotFrame = reader_.readFrame(*slot, timing);
            } catch (...) {
                if (slot != nullptr) releaseSlot(slot);
                fail(frameNumber, std::current_exception());
                return;
            }
            if (!gotFrame) {
                releaseSlot(slot);
                return;
            }
            {
                const std::lock_guard lock(mutex_);
                jobs_[(jobStart_ + jobCount_) % jobs_.size()] = Job{frameNumber, slot, timing};
                ++jobCount_;
            }
            jobReady_.notify_one();
        }
    }

    bool takeJob(Job& job) {
        std::unique_lock lock(mutex_);
        jobReady_.wait(lock, [&] { return jobCount_ > 0 || readingDone_; });
        if (jobCount_ == 0) return false;
        job = jobs_[jobStart_];
        jobStart_ = (jobStart_ + 1) % jobs_.size();
        --jobCount_;
        return true;
    }

    bool failedBefore(std::int64_t frameNumber) {
        const std::lock_guard lock(mutex_);
        return errorFrame_ < frameNumber;
    }

    // Waits until every earlier frame is written; false when an earlier frame failed.
    bool awaitTurn(std::int64_t frameNumber) {
        std::unique_lock lock(mutex_);
        turnChanged_.wait(lock, [&] { return nextToWrite_ == frameNumber || errorFrame_ < frameNumber; });
        return errorFrame_ >= frameNumber;
    }

    void work() {
        // Made on this thread's first frame, so idle workers cost nothing.
        std::unique_ptr<FilterInstance> instance;
        Job job;
        while (takeJob(job)) {
            const FrameBitmap* enlarged = nullptr;
            if (!failedBefore(job.frameNumber)) {
                try {
                    if (instance == nullptr) instance = std::make_unique<FilterInstance>(module_);
                    enlarged = &instance->enlarge(*job.source, job.frameNumber);
                } catch (...) {
                    fail(job.frameNumber, std::current_exception());
                }
            }
            releaseSlot(job.source);
            if (enlarged == nullptr || !awaitTurn(job.frameNumber)) continue;
            try {
                writer_.writeFrame(*enlarged, job.timing);
                progress_.frameDone(job.frameNumber);
            } catch (...) {
                fail(job.frameNumber, std::current_exception());
                continue;
            }
            {
                const std::lock_guard lock(mutex_);
                ++nextToWrite_;
            }
            turnChanged_.notify_all();
        }
    }

    SequentialFrameReader& reader_;
    FrameWriter& writer_;
    const FilterModule& module_;
    ProgressLine& progress_;
    const std::size_t threadCount_;
    const std::size_t slotLimit_;

    std::mutex mutex_;
    std::condition_variable slotFreed_;
    std::condition_variable jobReady_;
    std::condition_variable turnChanged_;
    std::vector<std::unique_ptr<FrameBitmap>> slots_;
    std::vector<FrameBitmap*> freeSlots_;
    std::vector<Job> jobs_;  // a ring of frames read and not yet taken
    std::size_t jobStart_ = 0;
    std::size_t jobCount_ = 0;
    bool readingDone_ = false;
    std::int64_t nextToWrite_ = 1;
    std::int64_t errorFrame_ = kNoError;
    std::exception_ptr error_;
    std::vector<std::thread> workers_;
};

}  // namespace

void enlargeStream(SequentialFrameReader& reader, FrameWriter& writer, const FilterModule& module, int threads,
                   ProgressLine& progress) {
    StreamPipeline pipeline(reader, writer, module, threads, progress);
    pipeline.run();
}

}  // namespace crest::cli

#include "cli/pipeline/frame_pipeline.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/base/command_error.h"

namespace crest::cli {

namespace {

constexpr std::int64_t kNoError = std::numeric_limits<std::int64_t>::max();

class FrameStream {
public:
    FrameStream(SequentialFrameReader& reader, FrameWriter& writer, InstancePool& pool, Progress& progress,
                const StreamEnlargement& enlargement)
        : reader_(reader),
          writer_(writer),
          pool_(pool),
          progress_(progress),
          passes_(enlargement.passes),
          reducers_(static_cast<std::size_t>(pool.size())),
          makeReducer_(enlargement.makeReducer),
          slotLimit_(2 * std::size_t(pool.size())) {
        // Reserved once, so the steady state allocates nothing but the jobs.
        slots_.reserve(slotLimit_);
        freeSlots_.reserve(slotLimit_);
    }

    void run() {
        std::exception_ptr readError;
        {
            JobGroup jobs(pool_);
            for (std::int64_t frameNumber = 1;; ++frameNumber) {
                if (progress_.cancelled()) {
                    readError = std::make_exception_ptr(JobCancelled());
                    failAt(frameNumber);
                    break;
                }
                FrameBitmap* slot = takeSlot();
                if (slot == nullptr) break;
                FrameTiming timing;
                bool gotFrame = false;
                try {
                    gotFrame = reader_.readFrame(*slot, timing);
                } catch (...) {
                    readError = std::current_exception();
                    failAt(frameNumber);
                }
                if (!gotFrame) {
                    releaseSlot(slot);
                    break;
                }
                jobs.submit(static_cast<std::size_t>(frameNumber),
                            [this, frameNumber, slot, timing](PoolWorker& worker) {
                                enlargeAndWrite(worker, frameNumber, *slot, timing);
                            });
            }
            jobs.wait();
            // Every frame submitted comes before one that could not be read.
            jobs.rethrow();
        }
        if (readError) std::rethrow_exception(readError);
    }

private:
    void enlargeAndWrite(PoolWorker& worker, std::int64_t frameNumber, FrameBitmap& source, const FrameTiming& timing) {
        FrameBitmap* enlarged = nullptr;
        const FrameBitmap* result = nullptr;
        try {
            if (!failedBefore(frameNumber)) {
                enlarged = &worker.instance().enlarge(source, frameNumber);
                for (int pass = 1; pass < passes_; ++pass)
                    enlarged = &worker.instance(static_cast<std::size_t>(pass)).enlarge(*enlarged, frameNumber);
                if (makeReducer_) {
                    std::unique_ptr<FrameReducer>& reducer = reducers_[worker.index()];
                    if (reducer == nullptr) reducer = makeReducer_();
                    result = &reducer->reduce(*enlarged);
                } else {
                    result = enlarged;
                }
            }
        } catch (...) {
            releaseSlot(&source);
            failAt(frameNumber);
            throw;
        }
        releaseSlot(&source);
        if (result == nullptr || !awaitTurn(frameNumber)) return;
        try {
            writer_.writeFrame(*result, timing);
            progress_.advance();
        } catch (...) {
            failAt(frameNumber);
            throw;
        }
        {
            const std::lock_guard lock(mutex_);
            ++nextToWrite_;
        }
        changed_.notify_all();
    }

    void failAt(std::int64_t frameNumber) {
        {
            const std::lock_guard lock(mutex_);
            if (frameNumber >= failedFrame_) return;
            failedFrame_ = frameNumber;
        }
        changed_.notify_all();
    }

    bool failedBefore(std::int64_t frameNumber) {
        const std::lock_guard lock(mutex_);
        return failedFrame_ < frameNumber;
    }

    // Waits until every earlier frame is written; false when an earlier frame failed.
    bool awaitTurn(std::int64_t frameNumber) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return nextToWrite_ == frameNumber || failedFrame_ < frameNumber; });
        return failedFrame_ >= frameNumber;
    }

    // A free source bitmap, a new one while fewer than the limit exist, or
    // null once a frame has failed.
    FrameBitmap* takeSlot() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return failedFrame_ != kNoError || !freeSlots_.empty() || slots_.size() < slotLimit_;
        });
        if (failedFrame_ != kNoError) return nullptr;
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
        changed_.notify_all();
    }

    SequentialFrameReader& reader_;
    FrameWriter& writer_;
    InstancePool& pool_;
    Progress& progress_;
    const int passes_;
    std::vector<std::unique_ptr<FrameReducer>> reducers_;  // by worker
    const std::function<std::unique_ptr<FrameReducer>()> makeReducer_;
    const std::size_t slotLimit_;

    std::mutex mutex_;
    std::condition_variable changed_;  // a slot freed, a frame written or a frame failed
    std::vector<std::unique_ptr<FrameBitmap>> slots_;
    std::vector<FrameBitmap*> freeSlots_;
    std::int64_t nextToWrite_ = 1;
    std::int64_t failedFrame_ = kNoError;
};

}  // namespace

void enlargeStream(SequentialFrameReader& reader, FrameWriter& writer, InstancePool& pool, Progress& progress,
                   const StreamEnlargement& enlargement) {
    FrameStream stream(reader, writer, pool, progress, enlargement);
    stream.run();
}

void enlargeWholeStream(SequentialFrameReader& reader, FrameWriter& writer, InstancePool& pool, Progress& progress,
                        const StreamEnlargement& enlargement) {
    enlargeStream(reader, writer, pool, progress, enlargement);
    writer.finish();
}

}  // namespace crest::cli

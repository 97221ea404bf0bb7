// The frame pipeline on its own, with the scripted fake module: every frame
// reaches the writer with the timing it was read with.
#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "cli/pipeline/frame_pipeline.h"

namespace crest::cli {
namespace {

// Irregular, so that no frame's timing passes for another's.
FrameTiming timingOf(std::uint32_t frame) {
    return FrameTiming{1000 + 7 * std::int64_t{frame} * frame, 3 + std::int64_t{frame}};
}

// Frame i holds the module's delay for it in the top byte of its first pixel
// and i in its second pixel.
class ScriptedReader final : public SequentialFrameReader {
public:
    explicit ScriptedReader(const std::vector<std::uint8_t>& delays) : delays_(delays) {}
    FrameSize frameSize() const override { return FrameSize{5, 3}; }
    bool readFrame(FrameBitmap& frame, FrameTiming& timing) override {
        if (next_ == delays_.size()) return false;
        frame.set(0, 0, std::uint32_t{delays_[next_]} << 24);
        frame.set(1, 0, next_);
        timing = timingOf(next_++);
        return true;
    }

private:
    const std::vector<std::uint8_t>& delays_;
    std::uint32_t next_ = 0;
};

using Written = std::tuple<std::uint32_t, std::int64_t, std::int64_t>;  // frame number, pts, duration

class RecordingWriter final : public FrameWriter {
public:
    void writeFrame(const FrameBitmap& frame, const FrameTiming& timing) override {
        // The module copies source pixel (1, 0) to (2, 0).
        written.emplace_back(frame.get(2, 0), timing.pts, timing.duration);
    }
    void finish() override {}
    std::vector<Written> written;
};

TEST(FramePipelineTest, EveryFrameKeepsItsTimingWhenLaterFramesFinishFirst) {
    const std::vector<std::uint8_t> delays{60, 40, 0, 20, 0, 0, 50, 0, 10, 0, 0, 0, 30, 0};
    const FilterModule module(FAKE_MODULE_SCRIPTED);
    for (const int threads : {1, 3, 5}) {
        ScriptedReader reader(delays);
        RecordingWriter writer;
        Progress progress;
        InstancePool pool(module, threads);
        enlargeStream(reader, writer, pool, progress);
        std::vector<Written> expected;
        for (std::uint32_t i = 0; i < delays.size(); ++i)
            expected.emplace_back(i, timingOf(i).pts, timingOf(i).duration);
        EXPECT_EQ(writer.written, expected) << threads << " threads";
    }
}

}  // namespace
}  // namespace crest::cli

#include "cli/pipeline/frame_files.h"

#include <cstring>

#include "cli/app/command_error.h"
#include "cli/media/picture/image_io.h"
#include "cli/app/path_kind.h"
#include "cli/media/raw/raw_stream.h"

namespace crest::cli {

namespace {

// One raw frame into a picture, without metadata: the tag as alpha with --keep-tags.
class PictureFrameWriter final : public FrameWriter {
public:
    PictureFrameWriter(std::string path, const Options& options) : path_(std::move(path)) {
        settings_.keepTags = options.keepTags;
        settings_.quality = options.quality.value_or(settings_.quality);
        settings_.threads = options.threads;
        checkPictureOutput(path_);
    }

    // Kept until finish(): an input with a second frame leaves no file.
    void writeFrame(const FrameBitmap& frame) override {
        if (frame_ != nullptr)
            throw CommandError("output " + path_ + " is a picture, which holds one frame, but the input has more");
        frame_ = std::make_unique<FrameBitmap>(frame.width, frame.height);
        for (std::int32_t y = 0; y < frame.height; ++y)
            std::memcpy(frame_->row(y), frame.row(y), 4 * static_cast<std::size_t>(frame.width));
    }
    void finish() override {
        if (frame_ != nullptr) writeStillImage(path_, *frame_, nullptr, false, nullptr, settings_);
    }

private:
    std::string path_;
    ImageSaveSettings settings_;
    std::unique_ptr<FrameBitmap> frame_;
};

}  // namespace

std::unique_ptr<FrameWriter> openFrameWriter(const Options& options) {
    // Films never get here: a film goes to a film, through the transcoder.
    if (kindOfPath(options.output) == PathKind::raw) return std::make_unique<RawFrameWriter>(options.output);
    return std::make_unique<PictureFrameWriter>(options.output, options);
}

}  // namespace crest::cli

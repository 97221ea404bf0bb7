// The frames of a film's video stream, decoded with libavcodec and converted
// to the module's words, from a frame of the selection on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/media/film/film_settings.h"
#include "cli/media/film/libav_handles.h"
#include "cli/media/film/pixel_converter.h"
#include "cli/pipeline/frame_stream.h"

namespace crest::cli {

class FilmReader final : public SequentialFrameReader {
public:
    // Frames skip, skip + 1, ... of those the selection takes, at most limit
    // of them (all to the end when negative). Throws CommandError.
    FilmReader(std::string path, const FilmSelection& selection, std::int64_t skip, std::int64_t limit);

    FrameSize frameSize() const override { return size_; }
    // Timed in the video stream's time base, less offsetIn().
    bool readFrame(FrameBitmap& bitmap, FrameTiming& timing) override;

    AVFormatContext* format() const { return input_.get(); }
    const AVStream* videoStream() const { return input_->streams[videoIndex_]; }
    int videoIndex() const { return videoIndex_; }
    const std::string& path() const { return path_; }
    // Subtracted from every timestamp, so a piece taken with --start begins at 0.
    std::int64_t offsetIn(AVRational timeBase) const { return av_rescale_q(offset_, videoTimeBase_, timeBase); }
    // The presentation time the selection starts at in the video's time base,
    // INT64_MIN when it is the first frame or found only by counting.
    std::int64_t startPts() const { return startPts_; }
    // The frames the selection takes, counted from the packets.
    std::int64_t selectedFrames() const;

private:
    [[noreturn]] void fail(const std::string& problem, int status) const;
    [[noreturn]] void failAtFrame(const std::string& problem, int status) const;
    void open(int wantedStream);
    void findVideoStream(int wanted);
    void openDecoder();
    void seek(double seconds);
    void startAtFrame(std::int64_t index);
    void decodeFromStart();
    void decodingFailed(const std::string& problem, int status);
    bool beforeFirstFrame(std::int64_t pts);
    bool keepFrame(FrameBitmap& bitmap, FrameTiming& timing);
    void feedDecoder();
    void noteEnd(const AVPacket& packet);
    void checkComplete() const;

    std::string path_;
    FilmSelection selection_;
    InputHandle input_;
    CodecHandle decoder_;
    Packet packet_;
    Frame frame_;
    PixelConverter converter_;
    int videoIndex_ = -1;
    AVRational videoTimeBase_{0, 1};
    FrameSize size_;
    std::int64_t frameLimit_ = -1;
    std::int64_t framesRead_ = 0;
    std::int64_t firstFrame_ = 0;    // of the whole stream
    std::int64_t framesToSkip_ = 0;  // when counting up to it from the start or the --start seek
    bool checkingFirstPts_ = false;  // when seeking to it
    std::int64_t startPts_ = INT64_MIN;
    std::int64_t offset_ = 0;
    std::int64_t nextPts_ = 0;
    std::int64_t lastPacketEnd_ = INT64_MIN;  // microseconds
    bool inputDone_ = false;
    bool saidDepth_ = false;
};

}  // namespace crest::cli

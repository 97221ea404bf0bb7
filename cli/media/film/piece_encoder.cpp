#include "cli/media/film/piece_encoder.h"

#include <algorithm>

#include "cli/base/command_error.h"
#include "cli/base/durable_files.h"

namespace crest::cli {

PieceEncoder::PieceEncoder(const VideoEncoding& encoding, AVRational timeBase, AVRational frameRate, std::string path,
                           std::string label)
    : output_(std::move(path)), encoder_(encoding.open()), label_(std::move(label)) {
    AVFormatContext* context = nullptr;
    int status = avformat_alloc_output_context2(&context, nullptr, "nut", output_.path().c_str());
    if (status < 0) fail("cannot set up the container", status);
    muxer_.reset(context);
    stream_ = checkedAllocation(avformat_new_stream(context, nullptr));
    status = avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    if (status < 0) fail("cannot describe the video stream", status);
    stream_->time_base = timeBase;
    stream_->avg_frame_rate = frameRate;
    status = avio_open(&context->pb, output_.path().c_str(), AVIO_FLAG_WRITE);
    if (status < 0) fail("cannot create", status);
    // NUT keeps the timestamps (in a time base as fine or finer); nothing may shift them.
    context->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
    context->flags |= AVFMT_FLAG_BITEXACT;
    status = avformat_write_header(context, nullptr);
    if (status < 0) fail("cannot write the header", status);
    if (!refines(stream_->time_base, timeBase)) fail("cannot keep the time base", AVERROR(EINVAL));

    const AVCodecContext& settings = *encoder_;
    picture_.reset(checkedAllocation(av_frame_alloc()));
    picture_->format = settings.pix_fmt;
    picture_->width = settings.width;
    picture_->height = settings.height;
    picture_->colorspace = settings.colorspace;
    picture_->color_range = settings.color_range;
    picture_->color_primaries = settings.color_primaries;
    picture_->color_trc = settings.color_trc;
    picture_->sample_aspect_ratio = settings.sample_aspect_ratio;
    status = av_frame_get_buffer(picture_.get(), 0);
    if (status < 0) fail("cannot make a picture", status);
    packet_.reset(checkedAllocation(av_packet_alloc()));
}

void PieceEncoder::fail(const std::string& problem, int status) const {
    throw CommandError(label_ + ": " + problem + ": " + avReason(status));
}

void PieceEncoder::write(const FrameBitmap& bitmap, const FrameTiming& timing) {
    const int status = av_frame_make_writable(picture_.get());
    if (status < 0) fail("cannot make a picture", status);
    converter_.fromWords(bitmap, *picture_);
    // A key frame first, also for encoders that would not start with one.
    picture_->pict_type = facts_.frames == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    picture_->pts = timing.pts;
    picture_->pkt_duration = timing.duration;
    if (facts_.frames == 0 || timing.pts < facts_.firstPts) facts_.firstPts = timing.pts;
    if (facts_.frames == 0 || timing.pts >= facts_.lastPts) {
        facts_.lastPts = timing.pts;
        facts_.endPts = timing.pts + timing.duration;
    }
    ++facts_.frames;
    encode(picture_.get());
}

void PieceEncoder::encode(AVFrame* picture) {
    int status = avcodec_send_frame(encoder_.get(), picture);
    if (status < 0) fail("cannot encode", status);
    while ((status = avcodec_receive_packet(encoder_.get(), packet_.get())) == 0) {
        packet_->stream_index = stream_->index;
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
        status = av_interleaved_write_frame(muxer_.get(), packet_.get());
        if (status < 0) fail("cannot write", status);
        if (muxer_->pb->error < 0) fail("cannot write", muxer_->pb->error);
    }
    if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) fail("cannot encode", status);
}

PieceFacts PieceEncoder::finish() {
    encode(nullptr);
    int status = av_write_trailer(muxer_.get());
    if (status < 0) fail("cannot finish", status);
    status = avio_closep(&muxer_->pb);
    if (status < 0) fail("cannot write", status);
    syncPath(output_.path());
    facts_.file = digestFile(output_.path());
    output_.commit();
    return facts_;
}

}  // namespace crest::cli

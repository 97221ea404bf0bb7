#include "cli/media/film/film_reader.h"

#include <algorithm>
#include <cstdio>
#include <optional>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "cli/base/command_error.h"
#include "cli/media/film/film_frame_index.h"

namespace crest::cli {

namespace {

// How much earlier than the duration it states a file may end.
constexpr std::int64_t kTruncationToleranceMicroseconds = 500000;

std::string formatSeconds(std::int64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(microseconds) / AV_TIME_BASE);
    return text;
}

}  // namespace

FilmReader::FilmReader(std::string path, const FilmSelection& selection, std::int64_t skip, std::int64_t limit)
    : path_(std::move(path)), selection_(selection) {
    open(selection.stream.value_or(-1));
    frameLimit_ = limit;
    if (selection.frameLimit) {
        const std::int64_t left = std::max<std::int64_t>(0, *selection.frameLimit - skip);
        frameLimit_ = frameLimit_ < 0 ? left : std::min(frameLimit_, left);
    }
    packet_.reset(checkedAllocation(av_packet_alloc()));
    frame_.reset(checkedAllocation(av_frame_alloc()));
    if (selection.startSeconds) {
        seek(*selection.startSeconds);
        framesToSkip_ = skip;
    } else {
        startAtFrame(selection.firstFrame.value_or(0) + skip);
    }
}

std::int64_t FilmReader::selectedFrames() const {
    std::int64_t frames = countFramesFrom(path_, videoIndex_, selection_.startSeconds ? startPts_ : INT64_MIN);
    frames = std::max<std::int64_t>(0, frames - selection_.firstFrame.value_or(0));
    if (selection_.frameLimit) frames = std::min(frames, *selection_.frameLimit);
    return frames;
}

bool FilmReader::readFrame(FrameBitmap& bitmap, FrameTiming& timing) {
    for (;;) {
        if (frameLimit_ >= 0 && framesRead_ >= frameLimit_) return false;
        const int status = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (status == 0) {
            const bool kept = keepFrame(bitmap, timing);
            av_frame_unref(frame_.get());
            if (kept) return true;
            continue;
        }
        if (status == AVERROR_EOF) return false;
        if (status != AVERROR(EAGAIN))
            decodingFailed("cannot decode", status);
        else
            feedDecoder();
    }
}

void FilmReader::fail(const std::string& problem, int status) const {
    throw CommandError(path_ + ": " + problem + ": " + avReason(status));
}

void FilmReader::failAtFrame(const std::string& problem, int status) const {
    fail("frame " + std::to_string(firstFrame_ + framesRead_ + 1) + ": " + problem, status);
}

void FilmReader::open(int wantedStream) {
    decoder_.reset();
    input_.reset();
    AVFormatContext* input = nullptr;
    int status = avformat_open_input(&input, path_.c_str(), nullptr, nullptr);
    if (status < 0) fail("cannot open as a film", status);
    input_.reset(input);
    status = avformat_find_stream_info(input, nullptr);
    if (status < 0) fail("cannot read the stream layout", status);
    findVideoStream(wantedStream);
    videoTimeBase_ = videoStream()->time_base;
    openDecoder();
}

void FilmReader::findVideoStream(int wanted) {
    if (wanted >= 0) {
        if (wanted >= static_cast<int>(input_->nb_streams))
            throw CommandError(path_ + " has no stream " + std::to_string(wanted), ExitStatus::usage);
        if (input_->streams[wanted]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            throw CommandError("stream " + std::to_string(wanted) + " of " + path_ + " is not video",
                               ExitStatus::usage);
        videoIndex_ = wanted;
        return;
    }
    const int found = av_find_best_stream(input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (found < 0) throw CommandError(path_ + " has no video stream");
    videoIndex_ = found;
}

void FilmReader::openDecoder() {
    const AVCodecParameters& parameters = *videoStream()->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
    if (codec == nullptr)
        throw CommandError(path_ + ": this build has no decoder for " + avcodec_get_name(parameters.codec_id) +
                           " video");
    if (parameters.width <= 0 || parameters.height <= 0 || parameters.width > kMaxSourceWidth ||
        parameters.height > kMaxSourceHeight)
        throw CommandError(path_ + ": frames of " + std::to_string(parameters.width) + "x" +
                           std::to_string(parameters.height) + " are outside the limit of " +
                           std::to_string(kMaxSourceWidth) + "x" + std::to_string(kMaxSourceHeight));
    decoder_.reset(checkedAllocation(avcodec_alloc_context3(codec)));
    int status = avcodec_parameters_to_context(decoder_.get(), &parameters);
    if (status < 0) fail("cannot set up the decoder", status);
    decoder_->pkt_timebase = videoTimeBase_;
    decoder_->thread_count = 0;  // one per core
    decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    // Damage is an error, not something to hide in the enlargement.
    decoder_->err_recognition |= AV_EF_EXPLODE;
    status = avcodec_open2(decoder_.get(), codec, nullptr);
    if (status < 0) fail(std::string("cannot open the ") + codec->name + " decoder", status);
    size_ = FrameSize{parameters.width, parameters.height};
}

void FilmReader::seek(double seconds) {
    const AVStream* stream = videoStream();
    std::int64_t start =
        av_rescale_q(static_cast<std::int64_t>(seconds * AV_TIME_BASE + 0.5), AV_TIME_BASE_Q, stream->time_base);
    if (stream->start_time != AV_NOPTS_VALUE) start += stream->start_time;
    // Back to the key frame before, then decoding up to the start.
    const int status = avformat_seek_file(input_.get(), videoIndex_, INT64_MIN, start, start, 0);
    if (status < 0) fail("cannot seek to " + std::to_string(seconds) + " s", status);
    startPts_ = start;
    offset_ = start;
}

// Frame `index` of the stream: from the key frame before it when timestamps
// single it out, otherwise by counting frames from the start. Timestamps
// stay the source's, so that pieces cut anywhere join into the whole.
void FilmReader::startAtFrame(std::int64_t index) {
    firstFrame_ = index;
    if (index == 0) return;
    const std::optional<FrameLocation> location = locateFrame(path_, videoIndex_, index);
    if (!location) {
        framesToSkip_ = index;
        return;
    }
    startPts_ = location->pts;
    checkingFirstPts_ = true;
    if (avformat_seek_file(input_.get(), videoIndex_, INT64_MIN, location->keyPts, location->keyPts, 0) < 0)
        decodeFromStart();
}

// Decoding from the key frame did not reach frame firstFrame_ where the
// timestamps said (a picture that leads its key frame, a seek point the
// decoder cannot show at once): count the frames from the start instead.
void FilmReader::decodeFromStart() {
    open(videoIndex_);
    checkingFirstPts_ = false;
    framesToSkip_ = firstFrame_;
    startPts_ = INT64_MIN;
    nextPts_ = 0;
    lastPacketEnd_ = INT64_MIN;
    inputDone_ = false;
}

void FilmReader::decodingFailed(const std::string& problem, int status) {
    if (!checkingFirstPts_) failAtFrame(problem, status);
    decodeFromStart();
}

// Frames before the first one wanted are decoded only to reach it.
bool FilmReader::beforeFirstFrame(std::int64_t pts) {
    if (pts < startPts_) return true;
    if (checkingFirstPts_) {
        checkingFirstPts_ = false;
        if (pts != startPts_) {
            decodeFromStart();
            return true;
        }
    }
    if (framesToSkip_ > 0) {
        --framesToSkip_;
        return true;
    }
    return false;
}

bool FilmReader::keepFrame(FrameBitmap& bitmap, FrameTiming& timing) {
    AVFrame& frame = *frame_;
    std::int64_t pts = frame.best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) pts = nextPts_;
    const std::int64_t duration = frame.pkt_duration > 0 ? frame.pkt_duration : 0;
    nextPts_ = pts + duration;
    if (beforeFirstFrame(pts)) return false;
    if (frame.decode_error_flags != 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0)
        failAtFrame("the picture is damaged", AVERROR_INVALIDDATA);
    if (frame.width != size_.width || frame.height != size_.height)
        failAtFrame("the frame size changes to " + std::to_string(frame.width) + "x" + std::to_string(frame.height),
                    AVERROR_PATCHWELCOME);
    const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!saidDepth_ && description != nullptr && description->comp[0].depth > 8) {
        std::fprintf(stderr, "crestdoubler: %s: %d-bit video is enlarged in 8 bits\n", path_.c_str(),
                     description->comp[0].depth);
        saidDepth_ = true;
    }
    converter_.toWords(frame, bitmap);
    timing = FrameTiming{pts - offset_, duration};
    ++framesRead_;
    return true;
}

// One packet into the decoder, or the end of the input. The other streams'
// packets are only noted: they are copied when the pieces are joined.
void FilmReader::feedDecoder() {
    if (inputDone_) failAtFrame("the decoder wants data after the end", AVERROR_BUG);
    const int status = av_read_frame(input_.get(), packet_.get());
    if (status == AVERROR_EOF) {
        if (input_->pb != nullptr && input_->pb->error < 0) failAtFrame("cannot read", input_->pb->error);
        checkComplete();
        inputDone_ = true;
        avcodec_send_packet(decoder_.get(), nullptr);
        return;
    }
    if (status < 0) failAtFrame("cannot read", status);
    noteEnd(*packet_);
    if (packet_->stream_index != videoIndex_) {
        av_packet_unref(packet_.get());
        return;
    }
    const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent < 0) decodingFailed("cannot decode", sent);
}

void FilmReader::noteEnd(const AVPacket& packet) {
    const std::int64_t time = packetTime(packet);
    if (time == AV_NOPTS_VALUE) return;
    const AVRational timeBase = input_->streams[packet.stream_index]->time_base;
    lastPacketEnd_ = std::max(lastPacketEnd_, av_rescale_q(time + packet.duration, timeBase, AV_TIME_BASE_Q));
}

// A file cut short still states the duration it had; its packets end early.
void FilmReader::checkComplete() const {
    const AVFormatContext& input = *input_;
    if (input.duration <= 0 || input.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return;
    const std::int64_t end = input.duration + (input.start_time != AV_NOPTS_VALUE ? input.start_time : 0);
    if (lastPacketEnd_ + kTruncationToleranceMicroseconds < end)
        throw CommandError(path_ + ": frame " + std::to_string(firstFrame_ + framesRead_ + 1) + ": the file ends at " +
                           formatSeconds(lastPacketEnd_) + " s of " + formatSeconds(end) +
                           " s: it is truncated or damaged");
}

}  // namespace crest::cli

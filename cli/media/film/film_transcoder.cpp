#include "cli/media/film/film_transcoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "cli/base/command_error.h"
#include "cli/media/film/film_frame_index.h"
#include "cli/media/reduction/lanczos_reducer.h"
#include "cli/hosting/filter_host.h"
#include "cli/pipeline/frame_pipeline.h"
#include "cli/jobs/path_kind.h"
#include "cli/base/temporary_output.h"

namespace crest::cli {

namespace {

// Accurate both ways, and the same bits on every machine.
constexpr int kScaleFlags = SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT;

// Packets of other streams past the last frame kept with --frames are read
// this far on, so that the sound of the last frame is not cut short.
constexpr std::int64_t kTrailingReadMicroseconds = 1000000;

// How much earlier than the duration it states a file may end.
constexpr std::int64_t kTruncationToleranceMicroseconds = 500000;

std::string formatSeconds(std::int64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(microseconds) / AV_TIME_BASE);
    return text;
}

std::string avReason(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct DictionaryFreer {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;

template <typename T>
T* checkedAllocation(T* pointer) {
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}

bool isCopiedType(AVMediaType type) {
    return type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE || type == AVMEDIA_TYPE_ATTACHMENT;
}

// A stream the probe saw announced but not yet carrying data (a transport
// stream whose tail names a stream that starts late) has no format a muxer
// can take.
bool hasKnownParameters(const AVCodecParameters& parameters) {
    if (parameters.codec_id == AV_CODEC_ID_NONE) return false;
    if (parameters.codec_type == AVMEDIA_TYPE_AUDIO)
        return parameters.sample_rate > 0 && parameters.ch_layout.nb_channels > 0;
    return true;
}

// Converts between a frame's own pixel format and the module's 32-bit BGR
// words with the frame's matrix and range, making a new scaler only when the
// description changes.
class PixelConverter {
public:
    // Source picture to BGR words, or BGR words to the picture of `frame`.
    void toWords(const AVFrame& frame, FrameBitmap& bitmap) {
        prepare(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), AV_PIX_FMT_BGR0,
                frame.colorspace, frame.color_range, true);
        std::uint8_t* planes[4] = {static_cast<std::uint8_t*>(bitmap.pixels), nullptr, nullptr, nullptr};
        int strides[4] = {bitmap.pitch, 0, 0, 0};
        sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    }
    void fromWords(const FrameBitmap& bitmap, AVFrame& frame) {
        prepare(frame.width, frame.height, AV_PIX_FMT_BGR0, static_cast<AVPixelFormat>(frame.format),
                frame.colorspace, frame.color_range, false);
        const std::uint8_t* planes[4] = {static_cast<const std::uint8_t*>(bitmap.pixels), nullptr, nullptr, nullptr};
        const int strides[4] = {bitmap.pitch, 0, 0, 0};
        sws_scale(scaler_.get(), planes, strides, 0, frame.height, frame.data, frame.linesize);
    }

private:
    void prepare(int width, int height, AVPixelFormat from, AVPixelFormat to, AVColorSpace matrix,
                 AVColorRange range, bool yuvIsSource) {
        if (scaler_ != nullptr && width == width_ && height == height_ && from == from_ && to == to_ &&
            matrix == matrix_ && range == range_)
            return;
        scaler_.reset(checkedAllocation(
            sws_getContext(width, height, from, width, height, to, kScaleFlags, nullptr, nullptr, nullptr)));
        // The table of an unspecified matrix is swscale's default, BT.601, both ways.
        const int* coefficients = sws_getCoefficients(matrix);
        const int fullRange = range == AVCOL_RANGE_JPEG ? 1 : 0;
        sws_setColorspaceDetails(scaler_.get(), coefficients, yuvIsSource ? fullRange : 1, coefficients,
                                 yuvIsSource ? 1 : fullRange, 0, 1 << 16, 1 << 16);
        width_ = width;
        height_ = height;
        from_ = from;
        to_ = to;
        matrix_ = matrix;
        range_ = range;
    }

    std::unique_ptr<SwsContext, ScalerFreer> scaler_;
    int width_ = 0;
    int height_ = 0;
    AVPixelFormat from_ = AV_PIX_FMT_NONE;
    AVPixelFormat to_ = AV_PIX_FMT_NONE;
    AVColorSpace matrix_ = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range_ = AVCOL_RANGE_UNSPECIFIED;
};

// What the reading thread hands to the writing one besides the frames: the
// packets of the copied streams.
class PacketQueue {
public:
    void pushPacket(Packet packet) {
        const std::lock_guard lock(mutex_);
        packets_.push_back(std::move(packet));
    }
    std::deque<Packet> takePackets() {
        const std::lock_guard lock(mutex_);
        return std::exchange(packets_, {});
    }
    template <typename Predicate>
    void dropPackets(Predicate drop) {
        const std::lock_guard lock(mutex_);
        std::erase_if(packets_, [&](const Packet& packet) { return drop(*packet); });
    }

private:
    std::mutex mutex_;
    std::deque<Packet> packets_;
};

class FilmReader final : public SequentialFrameReader {
public:
    FilmReader(const std::string& input, const FilmSettings& options, PacketQueue& queue)
        : path_(input), videoOnly_(options.videoOnly), queue_(queue) {
        open(options.streamIndex);
        if (options.startSeconds) seek(*options.startSeconds);
        if (options.firstFrame) startAtFrame(*options.firstFrame);
        frameLimit_ = options.frameLimit.value_or(-1);
        packet_.reset(checkedAllocation(av_packet_alloc()));
        frame_.reset(checkedAllocation(av_frame_alloc()));
    }

    FrameSize frameSize() const override { return size_; }

    // Timed in the video stream's time base.
    bool readFrame(FrameBitmap& bitmap, FrameTiming& timing) override {
        for (;;) {
            if (frameLimit_ >= 0 && framesRead_ >= frameLimit_) {
                readTrailingPackets();
                return false;
            }
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

    AVFormatContext* format() const { return input_.get(); }
    const AVStream* videoStream() const { return input_->streams[videoIndex_]; }
    const AVCodecContext& decoder() const { return *decoder_; }
    // Subtracted from every timestamp, so a piece taken with --start begins at 0.
    std::int64_t offsetIn(AVRational timeBase) const { return av_rescale_q(offset_, videoTimeBase(), timeBase); }
    const std::string& path() const { return path_; }

    // The frames the run will enlarge when the container says how many there are.
    std::int64_t expectedFrames() const {
        const AVStream* stream = videoStream();
        std::int64_t frames = stream->nb_frames;
        if (frames <= 0 && stream->avg_frame_rate.num > 0 && input_->duration > 0)
            frames = av_rescale_q(input_->duration, AV_TIME_BASE_Q, av_inv_q(stream->avg_frame_rate));
        if (frames > 0 && offset_ > 0)
            frames -= av_rescale_q(offset_, videoTimeBase(), av_inv_q(stream->avg_frame_rate));
        if (frames > 0) frames -= firstFrame_;
        if (frameLimit_ >= 0 && (frames <= 0 || frames > frameLimit_)) frames = frameLimit_;
        return frames > 0 ? frames : 0;
    }

private:
    [[noreturn]] void fail(const std::string& problem, int status) const {
        throw CommandError(path_ + ": " + problem + ": " + avReason(status));
    }
    [[noreturn]] void failAtFrame(const std::string& problem, int status) const {
        fail("frame " + std::to_string(framesRead_ + 1) + ": " + problem, status);
    }
    // Kept apart from the context, whose stream list the demuxer may grow while the writer asks.
    AVRational videoTimeBase() const { return videoTimeBase_; }

    void open(const std::optional<int>& wantedStream) {
        decoder_.reset();
        input_.reset();
        AVFormatContext* input = nullptr;
        int status = avformat_open_input(&input, path_.c_str(), nullptr, nullptr);
        if (status < 0) fail("cannot open as a film", status);
        input_.reset(input);
        status = avformat_find_stream_info(input, nullptr);
        if (status < 0) fail("cannot read the stream layout", status);
        headerStreamCount_ = input->nb_streams;
        findVideoStream(wantedStream);
        videoTimeBase_ = videoStream()->time_base;
        openDecoder();
        // Not even read, where the container allows.
        if (videoOnly_)
            for (unsigned i = 0; i < input->nb_streams; ++i)
                if (static_cast<int>(i) != videoIndex_) input->streams[i]->discard = AVDISCARD_ALL;
    }

    void findVideoStream(const std::optional<int>& wanted) {
        if (wanted) {
            if (*wanted >= static_cast<int>(input_->nb_streams))
                throw CommandError(path_ + " has no stream " + std::to_string(*wanted), ExitStatus::usage);
            if (input_->streams[*wanted]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
                throw CommandError("stream " + std::to_string(*wanted) + " of " + path_ + " is not video",
                                   ExitStatus::usage);
            videoIndex_ = *wanted;
            return;
        }
        const int found = av_find_best_stream(input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (found < 0) throw CommandError(path_ + " has no video stream");
        videoIndex_ = found;
    }

    void openDecoder() {
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
        decoder_->pkt_timebase = videoTimeBase();
        decoder_->thread_count = 0;  // one per core
        decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        // Damage is an error, not something to hide in the enlargement.
        decoder_->err_recognition |= AV_EF_EXPLODE;
        status = avcodec_open2(decoder_.get(), codec, nullptr);
        if (status < 0) fail(std::string("cannot open the ") + codec->name + " decoder", status);
        size_ = FrameSize{parameters.width, parameters.height};
    }

    void seek(double seconds) {
        const AVStream* stream = videoStream();
        std::int64_t start = av_rescale_q(static_cast<std::int64_t>(seconds * AV_TIME_BASE + 0.5), AV_TIME_BASE_Q,
                                          stream->time_base);
        if (stream->start_time != AV_NOPTS_VALUE) start += stream->start_time;
        // Back to the key frame before, then decoding up to the start.
        const int status = avformat_seek_file(input_.get(), videoIndex_, INT64_MIN, start, start, 0);
        if (status < 0) fail("cannot seek to " + std::to_string(seconds) + " s", status);
        startPts_ = start;
        offset_ = start;
    }

    // --first-frame: from the key frame before it when timestamps single it
    // out, otherwise by counting frames from the start. Timestamps stay the
    // source's, so that pieces cut anywhere join into the whole.
    void startAtFrame(std::int64_t index) {
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
    // timestamps said: count the frames from the start instead.
    void decodeFromStart() {
        open(videoIndex_);
        queue_.takePackets();
        checkingFirstPts_ = false;
        framesToSkip_ = firstFrame_;
        startPts_ = INT64_MIN;
        nextPts_ = 0;
        lastPacketEnd_ = INT64_MIN;
        inputDone_ = false;
    }

    void decodingFailed(const std::string& problem, int status) {
        if (!checkingFirstPts_) failAtFrame(problem, status);
        decodeFromStart();
    }

    // Frames before --first-frame are decoded only to reach it.
    bool beforeFirstFrame(std::int64_t pts) {
        if (framesToSkip_ > 0) {
            --framesToSkip_;
            dropPacketsBefore(pts);
            return true;
        }
        if (pts < startPts_) return true;
        if (checkingFirstPts_) {
            checkingFirstPts_ = false;
            if (pts != startPts_) {
                decodeFromStart();
                return true;
            }
        }
        if (firstFrame_ > 0 && startPts_ == INT64_MIN) {
            // Counted from the start: the other streams' packets begin here.
            startPts_ = pts;
            dropPacketsBefore(pts);
        }
        return false;
    }

    void dropPacketsBefore(std::int64_t pts) {
        queue_.dropPackets([&](const AVPacket& packet) {
            const std::int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
            return time != AV_NOPTS_VALUE &&
                   av_compare_ts(time, input_->streams[packet.stream_index]->time_base, pts, videoTimeBase()) < 0;
        });
    }

    bool keepFrame(FrameBitmap& bitmap, FrameTiming& timing) {
        AVFrame& frame = *frame_;
        std::int64_t pts = frame.best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) pts = nextPts_;
        const std::int64_t duration = frame.pkt_duration > 0 ? frame.pkt_duration : 0;
        nextPts_ = pts + duration;
        if (beforeFirstFrame(pts)) return false;
        if (frame.decode_error_flags != 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0)
            failAtFrame("the picture is damaged", AVERROR_INVALIDDATA);
        if (frame.width != size_.width || frame.height != size_.height)
            failAtFrame("the frame size changes to " + std::to_string(frame.width) + "x" +
                            std::to_string(frame.height),
                        AVERROR_PATCHWELCOME);
        const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
        if (!saidDepth_ && description != nullptr && description->comp[0].depth > 8) {
            std::fprintf(stderr, "crestdoubler: %s: %d-bit video is enlarged in 8 bits\n", path_.c_str(),
                         description->comp[0].depth);
            saidDepth_ = true;
        }
        converter_.toWords(frame, bitmap);
        timing = FrameTiming{pts, duration};
        endPts_ = nextPts_;
        ++framesRead_;
        return true;
    }

    // One packet into the decoder, or the end of the input.
    void feedDecoder() {
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
        if (packet_->stream_index == videoIndex_) {
            const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
            av_packet_unref(packet_.get());
            if (sent < 0) decodingFailed("cannot decode", sent);
            return;
        }
        keepPacket();
    }

    void noteEnd(const AVPacket& packet) {
        const std::int64_t time = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        if (time == AV_NOPTS_VALUE) return;
        const AVRational timeBase = input_->streams[packet.stream_index]->time_base;
        lastPacketEnd_ = std::max(lastPacketEnd_, av_rescale_q(time + packet.duration, timeBase, AV_TIME_BASE_Q));
    }

    // A file cut short still states the duration it had; its packets end early.
    void checkComplete() const {
        const AVFormatContext& input = *input_;
        if (input.duration <= 0 || input.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return;
        const std::int64_t end = input.duration + (input.start_time != AV_NOPTS_VALUE ? input.start_time : 0);
        if (lastPacketEnd_ + kTruncationToleranceMicroseconds < end)
            throw CommandError(path_ + ": frame " + std::to_string(framesRead_ + 1) + ": the file ends at " +
                               formatSeconds(lastPacketEnd_) + " s of " + formatSeconds(end) +
                               " s: it is truncated or damaged");
    }

    // A packet of another stream, queued for copying when it lies within the piece enlarged.
    void keepPacket() {
        if (videoOnly_ || beginsLate(packet_->stream_index)) {
            av_packet_unref(packet_.get());
            return;
        }
        const AVStream* stream = input_->streams[packet_->stream_index];
        const std::int64_t time = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
        const bool inPiece =
            isCopiedType(stream->codecpar->codec_type) &&
            (time == AV_NOPTS_VALUE ||
             (av_compare_ts(time, stream->time_base, startPts_, videoTimeBase()) >= 0 &&
              (frameLimit_ < 0 || framesRead_ < frameLimit_ ||
               av_compare_ts(time, stream->time_base, endPts_, videoTimeBase()) < 0)));
        if (!inPiece) {
            av_packet_unref(packet_.get());
            return;
        }
        Packet kept(checkedAllocation(av_packet_alloc()));
        av_packet_move_ref(kept.get(), packet_.get());
        queue_.pushPacket(std::move(kept));
    }

    // Streams that some containers (MPEG-TS) announce only after the header
    // cannot join an output whose header is written: each is named once and
    // left out.
    bool beginsLate(int index) {
        if (index < headerStreamCount_) return false;
        if (std::find(lateStreams_.begin(), lateStreams_.end(), index) == lateStreams_.end()) {
            lateStreams_.push_back(index);
            std::fprintf(stderr, "crestdoubler: %s: stream %d (%s) begins after the header and is not copied\n",
                         path_.c_str(), index,
                         av_get_media_type_string(input_->streams[index]->codecpar->codec_type));
        }
        return true;
    }

    // After the last frame of --frames: the other streams' packets up to its end.
    void readTrailingPackets() {
        if (inputDone_) return;
        inputDone_ = true;
        const std::int64_t stop =
            endPts_ + av_rescale_q(kTrailingReadMicroseconds, AV_TIME_BASE_Q, videoTimeBase());
        while (av_read_frame(input_.get(), packet_.get()) >= 0) {
            const AVStream* stream = input_->streams[packet_->stream_index];
            const bool past = packet_->dts != AV_NOPTS_VALUE &&
                              av_compare_ts(packet_->dts, stream->time_base, stop, videoTimeBase()) > 0;
            keepPacket();
            av_packet_unref(packet_.get());
            if (past) return;
        }
    }

    std::string path_;
    bool videoOnly_ = false;
    PacketQueue& queue_;
    std::unique_ptr<AVFormatContext, InputCloser> input_;
    std::unique_ptr<AVCodecContext, CodecCloser> decoder_;
    Packet packet_;
    Frame frame_;
    PixelConverter converter_;
    int videoIndex_ = -1;
    int headerStreamCount_ = 0;
    AVRational videoTimeBase_{0, 1};
    std::vector<int> lateStreams_;
    FrameSize size_;
    std::int64_t frameLimit_ = -1;
    std::int64_t framesRead_ = 0;
    std::int64_t firstFrame_ = 0;    // --first-frame
    std::int64_t framesToSkip_ = 0;  // when counting up to it from the start
    bool checkingFirstPts_ = false;  // when seeking to it
    std::int64_t startPts_ = INT64_MIN;
    std::int64_t offset_ = 0;
    std::int64_t nextPts_ = 0;
    std::int64_t endPts_ = 0;
    std::int64_t lastPacketEnd_ = INT64_MIN;  // microseconds
    bool inputDone_ = false;
    bool saidDepth_ = false;
};

// The 8-bit format nearest the source's: its chroma layout, or BGR for RGB sources.
AVPixelFormat eightBitFormatLike(AVPixelFormat source) {
    const AVPixFmtDescriptor* description = av_pix_fmt_desc_get(source);
    if (description == nullptr) return AV_PIX_FMT_YUV420P;
    if ((description->flags & AV_PIX_FMT_FLAG_RGB) != 0) return AV_PIX_FMT_BGR0;
    if (description->nb_components <= 2) return AV_PIX_FMT_GRAY8;
    if (description->log2_chroma_w == 0 && description->log2_chroma_h == 0) return AV_PIX_FMT_YUV444P;
    if (description->log2_chroma_w == 1 && description->log2_chroma_h == 0) return AV_PIX_FMT_YUV422P;
    return AV_PIX_FMT_YUV420P;
}

bool hasOption(void* object, const char* name) {
    return object != nullptr && av_opt_find(object, name, nullptr, 0, 0) != nullptr;
}

class FilmWriter final : public FrameWriter {
public:
    FilmWriter(const std::string& output, FrameSize frames, const FilmSettings& options, const FilmReader& reader,
               PacketQueue& queue)
        : output_(output), frames_(frames), reader_(reader), queue_(queue) {
        const AVOutputFormat* container = av_guess_format(nullptr, output.c_str(), nullptr);
        if (container == nullptr)
            throw CommandError("no container format of this build is named by " + output, ExitStatus::usage);
        AVFormatContext* context = nullptr;
        int status = avformat_alloc_output_context2(&context, container, nullptr, output_.path().c_str());
        if (status < 0) fail("cannot set up the container", status);
        muxer_.reset(context);
        const AVCodec* encoder = chooseEncoder(options, container);
        addStreams(options, encoder);
        if (!options.videoOnly) {
            copyChapters();
            av_dict_copy(&muxer_->metadata, reader_.format()->metadata, 0);
        }
        if ((container->flags & AVFMT_NOFILE) == 0) {
            status = avio_open(&muxer_->pb, output_.path().c_str(), AVIO_FLAG_WRITE);
            if (status < 0) fail("cannot create", status);
        }
        // The timestamps are the source's, already as its container could
        // hold them: shifting them again would move the whole film.
        muxer_->avoid_negative_ts = AVFMT_AVOID_NEG_TS_DISABLED;
        status = avformat_write_header(muxer_.get(), nullptr);
        if (status < 0) fail("cannot write the header", status);
        packet_.reset(checkedAllocation(av_packet_alloc()));
    }

    void writeFrame(const FrameBitmap& bitmap, const FrameTiming& timing) override {
        ++framesWritten_;
        int status = av_frame_make_writable(picture_.get());
        if (status < 0) failAtFrame("cannot make a picture", status);
        converter_.fromWords(bitmap, *picture_);
        // A key frame first, also for encoders that would not start with one:
        // pieces of a film then join without encoding again.
        picture_->pict_type = framesWritten_ == 1 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        picture_->pts = timing.pts - reader_.offsetIn(encoder_->time_base);
        picture_->pkt_duration = timing.duration;
        encode(picture_.get());
        copyPackets();
    }

    void finish() override {
        if (framesWritten_ == 0) throw CommandError(reader_.path() + " has no frames to enlarge");
        encode(nullptr);
        copyPackets();
        int status = av_write_trailer(muxer_.get());
        if (status < 0) fail("cannot finish", status);
        if (muxer_->pb != nullptr && (muxer_->oformat->flags & AVFMT_NOFILE) == 0) {
            status = avio_closep(&muxer_->pb);
            if (status < 0) fail("cannot write", status);
        }
        output_.commit();
    }

private:
    [[noreturn]] void fail(const std::string& problem, int status) const {
        throw CommandError(output_.destination() + ": " + problem + ": " + avReason(status));
    }
    [[noreturn]] void failAtFrame(const std::string& problem, int status) const {
        fail("frame " + std::to_string(framesWritten_) + ": " + problem, status);
    }
    [[noreturn]] void refuse(const std::string& problem, bool usage) const {
        throw CommandError(output_.destination() + ": " + problem, usage ? ExitStatus::usage : ExitStatus::failure);
    }

    const AVCodec* chooseEncoder(const FilmSettings& options, const AVOutputFormat* container) const {
        std::string name;
        if (options.codec) {
            name = *options.codec;
        } else if (container->video_codec == AV_CODEC_ID_VP9 || container->video_codec == AV_CODEC_ID_VP8) {
            name = "libvpx-vp9";
        } else if (avformat_query_codec(container, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) != 0) {
            name = "libx264";
        } else {
            const AVCodec* fallback = avcodec_find_encoder(container->video_codec);
            if (fallback == nullptr) refuse("this build has no video encoder for " + std::string(container->name), false);
            name = fallback->name;
        }
        const AVCodec* encoder = avcodec_find_encoder_by_name(name.c_str());
        if (encoder == nullptr || encoder->type != AVMEDIA_TYPE_VIDEO)
            refuse("this build has no video encoder " + name, options.codec.has_value());
        if (avformat_query_codec(container, encoder->id, FF_COMPLIANCE_NORMAL) == 0)
            refuse(std::string("the ") + container->name + " container cannot hold " + encoder->name + " video",
                   options.codec.has_value());
        return encoder;
    }

    void addStreams(const FilmSettings& options, const AVCodec* encoder) {
        const AVFormatContext& input = *reader_.format();
        streamMap_.assign(input.nb_streams, CopiedStream{});
        for (unsigned index = 0; index < input.nb_streams; ++index) {
            const AVStream* source = input.streams[index];
            if (source == reader_.videoStream()) {
                addVideoStream(options, encoder);
            } else if (options.videoOnly) {
                continue;
            } else if (isCopiedType(source->codecpar->codec_type) && !hasKnownParameters(*source->codecpar)) {
                std::fprintf(stderr,
                             "crestdoubler: %s: stream %u (%s) has no data near the start of the file to tell its "
                             "format and is not copied\n",
                             reader_.path().c_str(), index, av_get_media_type_string(source->codecpar->codec_type));
            } else if (isCopiedType(source->codecpar->codec_type)) {
                streamMap_[index] = CopiedStream{addCopiedStream(*source, index), source->time_base};
            } else if (source->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || !options.streamIndex) {
                std::fprintf(stderr, "crestdoubler: %s: stream %u (%s) is not copied\n", reader_.path().c_str(),
                             index, av_get_media_type_string(source->codecpar->codec_type));
            }
        }
    }

    int addCopiedStream(const AVStream& source, unsigned index) {
        const AVCodecID codec = source.codecpar->codec_id;
        if (avformat_query_codec(muxer_->oformat, codec, FF_COMPLIANCE_NORMAL) == 0)
            refuse(std::string("the ") + muxer_->oformat->name + " container cannot hold stream " +
                       std::to_string(index) + " (" + av_get_media_type_string(source.codecpar->codec_type) + ", " +
                       avcodec_get_name(codec) + ")",
                   false);
        AVStream* stream = checkedAllocation(avformat_new_stream(muxer_.get(), nullptr));
        const int status = avcodec_parameters_copy(stream->codecpar, source.codecpar);
        if (status < 0) fail("cannot copy stream " + std::to_string(index), status);
        stream->codecpar->codec_tag = 0;
        stream->time_base = source.time_base;
        stream->disposition = source.disposition;
        av_dict_copy(&stream->metadata, source.metadata, 0);
        return stream->index;
    }

    void addVideoStream(const FilmSettings& options, const AVCodec* encoder) {
        const AVStream& source = *reader_.videoStream();
        const AVCodecContext& decoder = reader_.decoder();
        encoder_.reset(checkedAllocation(avcodec_alloc_context3(encoder)));
        AVCodecContext& context = *encoder_;
        context.width = frames_.width;
        context.height = frames_.height;
        context.time_base = source.time_base;
        context.framerate = av_guess_frame_rate(reader_.format(), const_cast<AVStream*>(&source), nullptr);
        context.sample_aspect_ratio =
            av_guess_sample_aspect_ratio(reader_.format(), const_cast<AVStream*>(&source), nullptr);
        context.color_primaries = decoder.color_primaries;
        context.color_trc = decoder.color_trc;
        context.colorspace = decoder.colorspace;
        context.chroma_sample_location = decoder.chroma_sample_location;
        const AVPixelFormat wanted = eightBitFormatLike(decoder.pix_fmt);
        context.pix_fmt =
            encoder->pix_fmts == nullptr ? wanted : avcodec_find_best_pix_fmt_of_list(encoder->pix_fmts, wanted, 0, nullptr);
        // A target size may be odd, which subsampled chroma cannot hold.
        if (const AVPixFmtDescriptor* chosen = av_pix_fmt_desc_get(context.pix_fmt)) {
            const int across = 1 << chosen->log2_chroma_w;
            const int down = 1 << chosen->log2_chroma_h;
            if (context.width % across != 0 || context.height % down != 0)
                refuse(std::string(encoder->name) + " writes " + chosen->name + " frames, whose sides are multiples of " +
                           std::to_string(across) + " and " + std::to_string(down) + ", not " +
                           std::to_string(context.width) + "x" + std::to_string(context.height),
                       true);
        }
        const AVPixFmtDescriptor* source8 = av_pix_fmt_desc_get(decoder.pix_fmt);
        const bool fullRange = decoder.color_range == AVCOL_RANGE_JPEG ||
                               (source8 != nullptr && std::string(source8->name).starts_with("yuvj"));
        context.color_range = fullRange ? AVCOL_RANGE_JPEG : decoder.color_range;
        context.thread_count = 0;
        if ((muxer_->oformat->flags & AVFMT_GLOBALHEADER) != 0) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        setQuality(options, *encoder);

        AVDictionary* settings = nullptr;
        for (const EncoderOption& option : options.encoderOptions)
            av_dict_set(&settings, option.key.c_str(), option.value.c_str(), 0);
        // Left holding the settings the encoder did not take.
        int status = avcodec_open2(&context, encoder, &settings);
        const std::unique_ptr<AVDictionary, DictionaryFreer> left(settings);
        if (status < 0) fail(std::string("cannot open the ") + encoder->name + " encoder", status);
        if (const AVDictionaryEntry* unknown = av_dict_get(left.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX))
            refuse(std::string("the ") + encoder->name + " encoder has no option " + unknown->key, true);

        video_ = checkedAllocation(avformat_new_stream(muxer_.get(), nullptr));
        status = avcodec_parameters_from_context(video_->codecpar, &context);
        if (status < 0) fail("cannot describe the video stream", status);
        video_->time_base = context.time_base;
        video_->avg_frame_rate = source.avg_frame_rate;
        video_->r_frame_rate = source.r_frame_rate;
        video_->sample_aspect_ratio = context.sample_aspect_ratio;
        video_->disposition = source.disposition;
        av_dict_copy(&video_->metadata, source.metadata, 0);
        av_dict_set(&video_->metadata, "DURATION", nullptr, 0);
        av_dict_set(&video_->metadata, "encoder", nullptr, 0);
        for (int i = 0; i < source.nb_side_data; ++i) {
            const AVPacketSideData& data = source.side_data[i];
            if (data.type == AV_PKT_DATA_CPB_PROPERTIES) continue;  // the old encoder's
            std::uint8_t* copy = checkedAllocation(av_stream_new_side_data(video_, data.type, data.size));
            std::memcpy(copy, data.data, data.size);
        }

        picture_.reset(checkedAllocation(av_frame_alloc()));
        picture_->format = context.pix_fmt;
        picture_->width = context.width;
        picture_->height = context.height;
        picture_->colorspace = context.colorspace;
        picture_->color_range = context.color_range;
        picture_->color_primaries = context.color_primaries;
        picture_->color_trc = context.color_trc;
        picture_->sample_aspect_ratio = context.sample_aspect_ratio;
        status = av_frame_get_buffer(picture_.get(), 0);
        if (status < 0) fail("cannot make a picture", status);
    }

    // CRF and preset: H.264's CRF 18 medium and VP9's CRF 31 unless asked otherwise.
    void setQuality(const FilmSettings& options, const AVCodec& encoder) {
        void* settings = encoder_->priv_data;
        const std::string name = encoder.name;
        const bool x264 = name == "libx264" || name == "libx264rgb";
        const bool vp9 = name == "libvpx-vp9";
        if (options.crf && !hasOption(settings, "crf")) refuse(name + " has no --crf setting", true);
        if (options.preset && !hasOption(settings, "preset")) refuse(name + " has no --preset setting", true);
        const std::optional<int> crf = options.crf ? options.crf : x264 ? 18 : vp9 ? 31 : std::optional<int>();
        if (crf) av_opt_set_int(settings, "crf", *crf, 0);
        if (vp9) {
            encoder_->bit_rate = 0;  // constant quality
            av_opt_set_int(settings, "row-mt", 1, 0);
        }
        const std::optional<std::string> preset = options.preset ? options.preset : x264 ? "medium" : std::optional<std::string>();
        if (preset && av_opt_set(settings, "preset", preset->c_str(), 0) < 0)
            refuse(name + " has no preset " + *preset, true);
    }

    void copyChapters() {
        const AVFormatContext& input = *reader_.format();
        for (unsigned i = 0; i < input.nb_chapters; ++i) {
            const AVChapter& source = *input.chapters[i];
            const std::int64_t offset = reader_.offsetIn(source.time_base);
            if (source.end != AV_NOPTS_VALUE && source.end <= offset) continue;
            auto* chapter = static_cast<AVChapter*>(checkedAllocation(av_mallocz(sizeof(AVChapter))));
            if (av_dynarray_add_nofree(&muxer_->chapters, reinterpret_cast<int*>(&muxer_->nb_chapters), chapter) < 0) {
                av_free(chapter);
                throw std::bad_alloc();
            }
            chapter->id = source.id;
            chapter->time_base = source.time_base;
            chapter->start = source.start > offset ? source.start - offset : 0;
            chapter->end = source.end == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : source.end - offset;
            av_dict_copy(&chapter->metadata, source.metadata, 0);
        }
    }

    void encode(AVFrame* picture) {
        int status = avcodec_send_frame(encoder_.get(), picture);
        if (status < 0) failAtFrame("cannot encode", status);
        while ((status = avcodec_receive_packet(encoder_.get(), packet_.get())) == 0) {
            packet_->stream_index = video_->index;
            av_packet_rescale_ts(packet_.get(), encoder_->time_base, video_->time_base);
            write(*packet_);
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF) failAtFrame("cannot encode", status);
    }

    void copyPackets() {
        for (Packet& packet : queue_.takePackets()) {
            // The reader may be adding streams to its context meanwhile: only
            // what was noted when the output was set up is read here.
            const auto input = static_cast<std::size_t>(packet->stream_index);
            if (input >= streamMap_.size() || streamMap_[input].output < 0) continue;
            const int index = streamMap_[input].output;
            const AVRational sourceTimeBase = streamMap_[input].sourceTimeBase;
            const std::int64_t offset = reader_.offsetIn(sourceTimeBase);
            if (packet->pts != AV_NOPTS_VALUE) packet->pts -= offset;
            if (packet->dts != AV_NOPTS_VALUE) packet->dts -= offset;
            packet->stream_index = index;
            packet->pos = -1;
            av_packet_rescale_ts(packet.get(), sourceTimeBase, muxer_->streams[index]->time_base);
            write(*packet);
        }
    }

    void write(AVPacket& packet) {
        const int status = av_interleaved_write_frame(muxer_.get(), &packet);
        if (status < 0) failAtFrame("cannot write", status);
        if (muxer_->pb != nullptr && muxer_->pb->error < 0) failAtFrame("cannot write", muxer_->pb->error);
    }

    // Declared first, so the file is closed before the temporary is removed.
    TemporaryOutput output_;
    const FrameSize frames_;  // the enlarged frames' size
    const FilmReader& reader_;
    PacketQueue& queue_;
    std::unique_ptr<AVFormatContext, OutputCloser> muxer_;
    std::unique_ptr<AVCodecContext, CodecCloser> encoder_;
    AVStream* video_ = nullptr;
    Frame picture_;
    Packet packet_;
    PixelConverter converter_;
    struct CopiedStream {
        int output = -1;  // output stream index, or -1: not copied
        AVRational sourceTimeBase{0, 1};
    };
    std::vector<CopiedStream> streamMap_;  // by input stream index
    std::int64_t framesWritten_ = 0;
};

}  // namespace

FrameSize enlargeFilm(const std::string& input, const std::string& output, const FilmSettings& settings,
                      const ScaleRequest& scale, SharedPool& pool, Progress& progress) {
    // Problems reach the user as one line each, from this command.
    av_log_set_level(AV_LOG_QUIET);
    PacketQueue queue;
    FilmReader reader(input, settings, queue);
    const Enlargement enlargement = planEnlargement(scale, reader.frameSize(), input);
    const FrameSize frames = outputSize(enlargement, reader.frameSize());
    InstancePool& instances = pool.pool();
    FilmWriter writer(output, frames, settings, reader, queue);
    StreamEnlargement stream{enlargement.passes, {}};
    if (enlargement.target)
        stream.makeReducer = lanczosReducer(doubledSize(reader.frameSize(), enlargement.passes), *enlargement.target);
    enlargeWholeStream(reader, writer, instances, progress, reader.expectedFrames(), stream);
    return frames;
}

}  // namespace crest::cli

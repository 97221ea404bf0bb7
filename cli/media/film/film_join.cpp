#include "cli/media/film/film_join.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "cli/base/command_error.h"
#include "cli/base/file_access.h"
#include "cli/base/temporary_output.h"
#include "cli/base/durable_files.h"
#include "cli/media/film/fault_points.h"

namespace crest::cli {

namespace {

// Packets of other streams past the last frame kept with --frames are read
// this far on, so that the sound of the last frame is not cut short.
constexpr std::int64_t kTrailingReadMicroseconds = 1000000;

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

// The pieces' video packets in order. Their decoding times are not kept by
// NUT: packet j of the film is given the j - delay'th earliest presentation
// time, which is what the encoder's reordering allows, the same for a film
// made in one run or in many.
class PieceReader {
public:
    PieceReader(const PieceJournal& journal, const std::vector<CheckedPiece>& pieces, int delay, AVRational timeBase)
        : journal_(journal), pieces_(pieces), delay_(std::max(delay, 0)), timeBase_(timeBase) {
        packet_.reset(checkedAllocation(av_packet_alloc()));
    }

    // The next packet, timed in the source video's time base; null after the last.
    AVPacket* next() {
        for (;;) {
            if (input_ == nullptr && !openNext()) return nullptr;
            if (av_read_frame(input_.get(), packet_.get()) >= 0) {
                av_packet_rescale_ts(packet_.get(), input_->streams[0]->time_base, timeBase_);
                packet_->dts = decodingTime(packetInPiece_++);
                return packet_.get();
            }
            window_ = timesBefore();
            input_.reset();
        }
    }

private:
    bool openNext() {
        if (piece_ >= pieces_.size()) return false;
        const std::string path = journal_.piecePath(pieces_[piece_].entry.index);
        AVFormatContext* opened = nullptr;
        const int status = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
        if (status < 0) throw CommandError("cannot read " + path + ": " + avReason(status));
        input_.reset(opened);
        times_ = &pieces_[piece_].sortedPts;
        packetInPiece_ = 0;
        ++piece_;
        return true;
    }

    std::int64_t decodingTime(std::size_t j) const {
        const std::vector<std::int64_t>& s = *times_;
        const std::size_t d = static_cast<std::size_t>(delay_);
        if (window_.size() == d) return j < d ? window_[j] : s[j - d];
        // The film's first frames: as far before the first as the delay reaches.
        const std::int64_t lead = s[std::min(d, s.size() - 1)] - s[0];
        return j < d ? s[j] - lead : s[j - d];
    }

    // The delay latest times so far, for the next piece's first packets.
    std::vector<std::int64_t> timesBefore() const {
        std::vector<std::int64_t> all = window_;
        all.insert(all.end(), times_->begin(), times_->end());
        const std::size_t d = static_cast<std::size_t>(delay_);
        if (all.size() > d) all.erase(all.begin(), all.end() - static_cast<std::ptrdiff_t>(d));
        return all;
    }

    const PieceJournal& journal_;
    const std::vector<CheckedPiece>& pieces_;
    const int delay_;
    const AVRational timeBase_;
    InputHandle input_;
    Packet packet_;
    std::size_t piece_ = 0;
    std::size_t packetInPiece_ = 0;
    const std::vector<std::int64_t>* times_ = nullptr;
    std::vector<std::int64_t> window_;
};

class Join {
public:
    Join(FilmReader& source, const FilmSelection& selection, const AVCodecParameters& video,
         const std::vector<CheckedPiece>& pieces, const std::string& output, const std::string& workFolder)
        : output_(output, workFolder), source_(source), selection_(selection) {
        const AVOutputFormat* container = av_guess_format(nullptr, output.c_str(), nullptr);
        if (container == nullptr)
            throw CommandError("no container format of this build is named by " + output, ExitStatus::usage);
        AVFormatContext* context = nullptr;
        int status = avformat_alloc_output_context2(&context, container, nullptr, output_.path().c_str());
        if (status < 0) fail("cannot set up the container", status);
        muxer_.reset(context);
        // The same film gives the same bytes: no random segment identifier,
        // no library version in the header.
        muxer_->flags |= AVFMT_FLAG_BITEXACT;
        addStreams(video);
        if (!selection.videoOnly) {
            copyChapters();
            av_dict_copy(&muxer_->metadata, source.format()->metadata, 0);
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

        const AVRational videoBase = source.videoStream()->time_base;
        const std::int64_t offset = source.offsetIn(videoBase);
        if (selection.startSeconds)
            startPts_ = source.startPts();
        else if (selection.firstFrame.value_or(0) > 0)
            startPts_ = pieces.front().entry.facts.firstPts;
        if (selection.frameLimit) endPts_ = pieces.back().entry.facts.endPts + offset;
        packet_.reset(checkedAllocation(av_packet_alloc()));
    }

    void run(const PieceJournal& journal, const std::vector<CheckedPiece>& pieces, int delay) {
        PieceReader videoPackets(journal, pieces, delay, source_.videoStream()->time_base);
        AVPacket* video = videoPackets.next();
        AVPacket* copied = nextCopied();
        const AVRational videoBase = source_.videoStream()->time_base;
        std::int64_t written = 0;
        while (video != nullptr || copied != nullptr) {
            const bool videoFirst =
                copied == nullptr ||
                (video != nullptr &&
                 av_compare_ts(video->dts, videoBase, packetOrder(*copied),
                               muxer_->streams[copied->stream_index]->time_base) <= 0);
            if (videoFirst) {
                video->stream_index = videoOutput_;
                video->pos = -1;
                av_packet_rescale_ts(video, videoBase, muxer_->streams[videoOutput_]->time_base);
                write(*video);
                video = videoPackets.next();
            } else {
                write(*copied);
                copied = nextCopied();
            }
            faultPoint("join-packet", ++written);
        }
    }

    void finish() {
        int status = av_write_trailer(muxer_.get());
        if (status < 0) fail("cannot finish", status);
        if (muxer_->pb != nullptr && (muxer_->oformat->flags & AVFMT_NOFILE) == 0) {
            status = avio_closep(&muxer_->pb);
            if (status < 0) fail("cannot write", status);
            syncPath(output_.path());
        }
        output_.commit();
        syncPath(folderOf(output_.destination()));
    }

private:
    [[noreturn]] void fail(const std::string& problem, int status) const {
        throw CommandError(output_.destination() + ": " + problem + ": " + avReason(status));
    }
    [[noreturn]] void refuse(const std::string& problem) const {
        throw CommandError(output_.destination() + ": " + problem);
    }

    static std::int64_t packetOrder(const AVPacket& packet) {
        return packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
    }

    void addStreams(const AVCodecParameters& video) {
        const AVFormatContext& input = *source_.format();
        headerStreams_ = static_cast<int>(input.nb_streams);
        streamMap_.assign(input.nb_streams, CopiedStream{});
        for (unsigned index = 0; index < input.nb_streams; ++index) {
            const AVStream* stream = input.streams[index];
            const AVMediaType type = stream->codecpar->codec_type;
            if (stream == source_.videoStream()) {
                addVideoStream(video);
            } else if (selection_.videoOnly) {
                continue;
            } else if (isCopiedType(type) && !hasKnownParameters(*stream->codecpar)) {
                std::fprintf(stderr,
                             "crestdoubler: %s: stream %u (%s) has no data near the start of the file to tell its "
                             "format and is not copied\n",
                             source_.path().c_str(), index, av_get_media_type_string(type));
            } else if (isCopiedType(type)) {
                streamMap_[index] = CopiedStream{addCopiedStream(*stream, index), stream->time_base};
            } else if (type != AVMEDIA_TYPE_VIDEO || !selection_.stream) {
                std::fprintf(stderr, "crestdoubler: %s: stream %u (%s) is not copied\n", source_.path().c_str(), index,
                             av_get_media_type_string(type));
            }
        }
    }

    int addCopiedStream(const AVStream& source, unsigned index) {
        const AVCodecID codec = source.codecpar->codec_id;
        if (avformat_query_codec(muxer_->oformat, codec, FF_COMPLIANCE_NORMAL) == 0)
            refuse(std::string("the ") + muxer_->oformat->name + " container cannot hold stream " +
                   std::to_string(index) + " (" + av_get_media_type_string(source.codecpar->codec_type) + ", " +
                   avcodec_get_name(codec) + ")");
        AVStream* stream = checkedAllocation(avformat_new_stream(muxer_.get(), nullptr));
        const int status = avcodec_parameters_copy(stream->codecpar, source.codecpar);
        if (status < 0) fail("cannot copy stream " + std::to_string(index), status);
        stream->codecpar->codec_tag = 0;
        stream->time_base = source.time_base;
        stream->disposition = source.disposition;
        av_dict_copy(&stream->metadata, source.metadata, 0);
        return stream->index;
    }

    void addVideoStream(const AVCodecParameters& video) {
        const AVStream& source = *source_.videoStream();
        AVStream* stream = checkedAllocation(avformat_new_stream(muxer_.get(), nullptr));
        int status = avcodec_parameters_copy(stream->codecpar, &video);
        if (status < 0) fail("cannot describe the video stream", status);
        stream->codecpar->codec_tag = 0;
        stream->time_base = source.time_base;
        stream->avg_frame_rate = source.avg_frame_rate;
        stream->r_frame_rate = source.r_frame_rate;
        stream->sample_aspect_ratio = video.sample_aspect_ratio;
        stream->disposition = source.disposition;
        av_dict_copy(&stream->metadata, source.metadata, 0);
        av_dict_set(&stream->metadata, "DURATION", nullptr, 0);
        av_dict_set(&stream->metadata, "encoder", nullptr, 0);
        for (int i = 0; i < source.nb_side_data; ++i) {
            const AVPacketSideData& data = source.side_data[i];
            if (data.type == AV_PKT_DATA_CPB_PROPERTIES) continue;  // the old encoder's
            std::uint8_t* copy = checkedAllocation(av_stream_new_side_data(stream, data.type, data.size));
            std::memcpy(copy, data.data, data.size);
        }
        videoOutput_ = stream->index;
    }

    void copyChapters() {
        const AVFormatContext& input = *source_.format();
        for (unsigned i = 0; i < input.nb_chapters; ++i) {
            const AVChapter& source = *input.chapters[i];
            const std::int64_t offset = source_.offsetIn(source.time_base);
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

    // The next packet of a copied stream within the selection, ready for the
    // muxer; null at the end.
    AVPacket* nextCopied() {
        if (selection_.videoOnly) return nullptr;
        AVFormatContext& input = *source_.format();
        const AVRational videoBase = source_.videoStream()->time_base;
        while (!inputDone_ && av_read_frame(&input, packet_.get()) >= 0) {
            const int index = packet_->stream_index;
            const AVStream& stream = *input.streams[index];
            if (index >= headerStreams_) {
                namedLate(index, stream);
                av_packet_unref(packet_.get());
                continue;
            }
            const std::int64_t time = packetTime(*packet_);
            if (endPts_ != INT64_MAX && packet_->dts != AV_NOPTS_VALUE &&
                av_compare_ts(packet_->dts, stream.time_base,
                              endPts_ + av_rescale_q(kTrailingReadMicroseconds, AV_TIME_BASE_Q, videoBase),
                              videoBase) > 0)
                inputDone_ = true;
            const bool inSelection =
                streamMap_[index].output >= 0 &&
                (time == AV_NOPTS_VALUE ||
                 ((startPts_ == INT64_MIN || av_compare_ts(time, stream.time_base, startPts_, videoBase) >= 0) &&
                  (endPts_ == INT64_MAX || av_compare_ts(time, stream.time_base, endPts_, videoBase) < 0)));
            if (!inSelection) {
                av_packet_unref(packet_.get());
                continue;
            }
            const CopiedStream& copied = streamMap_[index];
            const std::int64_t offset = source_.offsetIn(copied.sourceTimeBase);
            if (packet_->pts != AV_NOPTS_VALUE) packet_->pts -= offset;
            if (packet_->dts != AV_NOPTS_VALUE) packet_->dts -= offset;
            packet_->stream_index = copied.output;
            packet_->pos = -1;
            av_packet_rescale_ts(packet_.get(), copied.sourceTimeBase, muxer_->streams[copied.output]->time_base);
            return packet_.get();
        }
        inputDone_ = true;
        return nullptr;
    }

    // Streams that some containers (MPEG-TS) announce only after the header
    // cannot join an output whose header is written: each is named once.
    void namedLate(int index, const AVStream& stream) {
        if (std::find(lateStreams_.begin(), lateStreams_.end(), index) != lateStreams_.end()) return;
        lateStreams_.push_back(index);
        std::fprintf(stderr, "crestdoubler: %s: stream %d (%s) begins after the header and is not copied\n",
                     source_.path().c_str(), index, av_get_media_type_string(stream.codecpar->codec_type));
    }

    void write(AVPacket& packet) {
        const int status = av_interleaved_write_frame(muxer_.get(), &packet);
        if (status < 0) fail("cannot write", status);
        if (muxer_->pb != nullptr && muxer_->pb->error < 0) fail("cannot write", muxer_->pb->error);
    }

    TemporaryOutput output_;  // first, so that the file is closed before it is removed
    FilmReader& source_;
    const FilmSelection& selection_;
    OutputHandle muxer_;
    Packet packet_;
    struct CopiedStream {
        int output = -1;  // output stream index, or -1: not copied
        AVRational sourceTimeBase{0, 1};
    };
    std::vector<CopiedStream> streamMap_;  // by input stream index
    int headerStreams_ = 0;
    std::vector<int> lateStreams_;
    int videoOutput_ = -1;
    std::int64_t startPts_ = INT64_MIN;  // of the selection, in the video's time base
    std::int64_t endPts_ = INT64_MAX;
    bool inputDone_ = false;
};

}  // namespace

void joinPieces(FilmReader& source, const FilmSelection& selection, const AVCodecParameters& video,
                const PieceJournal& journal, const std::vector<CheckedPiece>& pieces, const std::string& output) {
    // The temporary output is in the work folder, so that one left by a kill goes with it.
    Join join(source, selection, video, pieces, output, journal.folder());
    join.run(journal, pieces, video.video_delay);
    join.finish();
}

}  // namespace crest::cli

// Owning handles for libav's objects, and its error codes as text.
#pragma once

#include <memory>
#include <new>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libswscale/swscale.h>
}

namespace crest::cli {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// An output context, with its file closed unless the format has none.
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

struct ParametersFreer {
    void operator()(AVCodecParameters* parameters) const { avcodec_parameters_free(&parameters); }
};

using ParametersHandle = std::unique_ptr<AVCodecParameters, ParametersFreer>;
using InputHandle = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputHandle = std::unique_ptr<AVFormatContext, OutputCloser>;
using CodecHandle = std::unique_ptr<AVCodecContext, CodecCloser>;
using Packet = std::unique_ptr<AVPacket, PacketFreer>;
using Frame = std::unique_ptr<AVFrame, FrameFreer>;

template <typename T>
T* checkedAllocation(T* pointer) {
    if (pointer == nullptr) throw std::bad_alloc();
    return pointer;
}

inline std::string avReason(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// A packet's time for ordering: its presentation time, else its decoding time.
inline std::int64_t packetTime(const AVPacket& packet) {
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

// Whether every time in `coarse` is a whole number of ticks of `fine`, so
// that times go from one to the other and back without loss.
inline bool refines(AVRational fine, AVRational coarse) {
    return fine.num > 0 && coarse.num > 0 &&
           (static_cast<std::int64_t>(fine.den) * coarse.num) % (static_cast<std::int64_t>(fine.num) * coarse.den) == 0;
}

}  // namespace crest::cli

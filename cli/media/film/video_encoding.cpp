#include "cli/media/film/video_encoding.h"

#include <optional>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "cli/base/command_error.h"

namespace crest::cli {

namespace {

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

}  // namespace

VideoEncoding::VideoEncoding(const AVFormatContext& source, const AVStream& video, const FilmEncoding& settings,
                             FrameSize frames, std::string output)
    : source_(source), video_(video), settings_(settings), frames_(frames), output_(std::move(output)) {
    container_ = av_guess_format(nullptr, output_.c_str(), nullptr);
    if (container_ == nullptr)
        throw CommandError("no container format of this build is named by " + output_, ExitStatus::usage);
    codec_ = chooseEncoder();
    open();  // refuses settings the encoder does not take before any work is done
}

void VideoEncoding::refuse(const std::string& problem, bool usage) const {
    throw CommandError(output_ + ": " + problem, usage ? ExitStatus::usage : ExitStatus::failure);
}

const AVCodec* VideoEncoding::chooseEncoder() const {
    std::string name;
    if (settings_.codec) {
        name = *settings_.codec;
    } else if (container_->video_codec == AV_CODEC_ID_VP9 || container_->video_codec == AV_CODEC_ID_VP8) {
        name = "libvpx-vp9";
    } else if (avformat_query_codec(container_, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) != 0) {
        name = "libx264";
    } else {
        const AVCodec* fallback = avcodec_find_encoder(container_->video_codec);
        if (fallback == nullptr) refuse("this build has no video encoder for " + std::string(container_->name), false);
        name = fallback->name;
    }
    const AVCodec* encoder = avcodec_find_encoder_by_name(name.c_str());
    if (encoder == nullptr || encoder->type != AVMEDIA_TYPE_VIDEO)
        refuse("this build has no video encoder " + name, settings_.codec.has_value());
    if (avformat_query_codec(container_, encoder->id, FF_COMPLIANCE_NORMAL) == 0)
        refuse(std::string("the ") + container_->name + " container cannot hold " + encoder->name + " video",
               settings_.codec.has_value());
    return encoder;
}

CodecHandle VideoEncoding::open() const {
    const AVCodecParameters& source = *video_.codecpar;
    CodecHandle encoder(checkedAllocation(avcodec_alloc_context3(codec_)));
    AVCodecContext& context = *encoder;
    context.width = frames_.width;
    context.height = frames_.height;
    context.time_base = video_.time_base;
    auto* format = const_cast<AVFormatContext*>(&source_);
    auto* stream = const_cast<AVStream*>(&video_);
    context.framerate = av_guess_frame_rate(format, stream, nullptr);
    context.sample_aspect_ratio = av_guess_sample_aspect_ratio(format, stream, nullptr);
    context.color_primaries = source.color_primaries;
    context.color_trc = source.color_trc;
    context.colorspace = source.color_space;
    context.chroma_sample_location = source.chroma_location;
    const auto sourceFormat = static_cast<AVPixelFormat>(source.format);
    const AVPixelFormat wanted = eightBitFormatLike(sourceFormat);
    context.pix_fmt =
        codec_->pix_fmts == nullptr ? wanted : avcodec_find_best_pix_fmt_of_list(codec_->pix_fmts, wanted, 0, nullptr);
    // A target size may be odd, which subsampled chroma cannot hold.
    if (const AVPixFmtDescriptor* chosen = av_pix_fmt_desc_get(context.pix_fmt)) {
        const int across = 1 << chosen->log2_chroma_w;
        const int down = 1 << chosen->log2_chroma_h;
        if (context.width % across != 0 || context.height % down != 0)
            refuse(std::string(codec_->name) + " writes " + chosen->name + " frames, whose sides are multiples of " +
                       std::to_string(across) + " and " + std::to_string(down) + ", not " +
                       std::to_string(context.width) + "x" + std::to_string(context.height),
                   true);
    }
    const AVPixFmtDescriptor* source8 = av_pix_fmt_desc_get(sourceFormat);
    const bool fullRange = source.color_range == AVCOL_RANGE_JPEG ||
                           (source8 != nullptr && std::string(source8->name).starts_with("yuvj"));
    context.color_range = fullRange ? AVCOL_RANGE_JPEG : source.color_range;
    context.thread_count = kEncoderThreads;
    if ((container_->flags & AVFMT_GLOBALHEADER) != 0) context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    setQuality(context);

    AVDictionary* settings = nullptr;
    for (const EncoderOption& option : settings_.encoderOptions)
        av_dict_set(&settings, option.key.c_str(), option.value.c_str(), 0);
    // Left holding the settings the encoder did not take.
    const int status = avcodec_open2(&context, codec_, &settings);
    const std::unique_ptr<AVDictionary, DictionaryFreer> left(settings);
    if (status < 0)
        throw CommandError(output_ + ": cannot open the " + codec_->name + " encoder: " + avReason(status));
    if (const AVDictionaryEntry* unknown = av_dict_get(left.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX))
        refuse(std::string("the ") + codec_->name + " encoder has no option " + unknown->key, true);
    return encoder;
}

// CRF and preset: H.264's CRF 18 medium and VP9's CRF 31 unless asked otherwise.
void VideoEncoding::setQuality(AVCodecContext& context) const {
    void* settings = context.priv_data;
    const std::string name = codec_->name;
    const bool x264 = name == "libx264" || name == "libx264rgb";
    const bool vp9 = name == "libvpx-vp9";
    if (settings_.crf && !hasOption(settings, "crf")) refuse(name + " has no --crf setting", true);
    if (settings_.preset && !hasOption(settings, "preset")) refuse(name + " has no --preset setting", true);
    const std::optional<int> crf = settings_.crf ? settings_.crf : x264 ? 18 : vp9 ? 31 : std::optional<int>();
    if (crf) av_opt_set_int(settings, "crf", *crf, 0);
    if (vp9) {
        context.bit_rate = 0;  // constant quality
        av_opt_set_int(settings, "row-mt", 1, 0);
    }
    const std::optional<std::string> preset =
        settings_.preset ? settings_.preset : x264 ? "medium" : std::optional<std::string>();
    if (preset && av_opt_set(settings, "preset", preset->c_str(), 0) < 0)
        refuse(name + " has no preset " + *preset, true);
}

std::string VideoEncoding::description() const {
    std::string text = std::string("encoder=") + codec_->name + " container=" + container_->name + " size=" +
                       std::to_string(frames_.width) + "x" + std::to_string(frames_.height) +
                       " threads=" + std::to_string(kEncoderThreads) +
                       " crf=" + (settings_.crf ? std::to_string(*settings_.crf) : "-") +
                       " preset=" + settings_.preset.value_or("-");
    for (const EncoderOption& option : settings_.encoderOptions) text += " " + option.key + "=" + option.value;
    return text;
}

}  // namespace crest::cli

// How the enlarged video is encoded: one encoder, one set of settings and a
// fixed thread count for every piece, so that a piece is the same bits
// whichever run (or machine) made it.
#pragma once

#include <string>

#include "cli/base/frame_size.h"
#include "cli/media/film/film_settings.h"
#include "cli/media/film/libav_handles.h"

namespace crest::cli {

// Encoder threads, fixed rather than one per core: libx264's output depends
// on its thread count.
inline constexpr int kEncoderThreads = 4;

class VideoEncoding {
public:
    // For the video stream `video` of `source`, enlarged into `output`, whose
    // container chooses the default encoder and whether headers are global.
    // Throws CommandError naming output.
    VideoEncoding(const AVFormatContext& source, const AVStream& video, const FilmEncoding& settings, FrameSize frames,
                  std::string output);

    // A new encoder with the settings, opened. Throws CommandError.
    CodecHandle open() const;
    const AVCodec& codec() const { return *codec_; }
    const AVOutputFormat& container() const { return *container_; }
    // Everything that makes the encoded bits what they are, as text.
    std::string description() const;

private:
    [[noreturn]] void refuse(const std::string& problem, bool usage) const;
    const AVCodec* chooseEncoder() const;
    void setQuality(AVCodecContext& context) const;

    const AVFormatContext& source_;
    const AVStream& video_;
    FilmEncoding settings_;
    FrameSize frames_;  // the enlarged frames
    std::string output_;
    const AVOutputFormat* container_ = nullptr;
    const AVCodec* codec_ = nullptr;
};

}  // namespace crest::cli

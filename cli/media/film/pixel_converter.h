// Between a frame's own pixel format and the module's 32-bit BGR words.
#pragma once

#include <memory>

#include "cli/hosting/frame_bitmap.h"
#include "cli/media/film/libav_handles.h"

namespace crest::cli {

// Converts with the frame's matrix and range, making a new scaler only when
// the description changes.
class PixelConverter {
public:
    // Source picture to BGR words, or BGR words to the picture of `frame`.
    void toWords(const AVFrame& frame, FrameBitmap& bitmap);
    void fromWords(const FrameBitmap& bitmap, AVFrame& frame);

private:
    void prepare(int width, int height, AVPixelFormat from, AVPixelFormat to, AVColorSpace matrix, AVColorRange range,
                 bool yuvIsSource);

    std::unique_ptr<SwsContext, ScalerFreer> scaler_;
    int width_ = 0;
    int height_ = 0;
    AVPixelFormat from_ = AV_PIX_FMT_NONE;
    AVPixelFormat to_ = AV_PIX_FMT_NONE;
    AVColorSpace matrix_ = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range_ = AVCOL_RANGE_UNSPECIFIED;
};

}  // namespace crest::cli

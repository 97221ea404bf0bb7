#include "cli/media/film/pixel_converter.h"

#include <cstdint>

namespace crest::cli {

namespace {

// Accurate both ways, and the same bits on every machine.
constexpr int kScaleFlags = SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_BITEXACT;

}  // namespace

void PixelConverter::toWords(const AVFrame& frame, FrameBitmap& bitmap) {
    prepare(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), AV_PIX_FMT_BGR0, frame.colorspace,
            frame.color_range, true);
    std::uint8_t* planes[4] = {static_cast<std::uint8_t*>(bitmap.pixels), nullptr, nullptr, nullptr};
    int strides[4] = {bitmap.pitch, 0, 0, 0};
    sws_scale(scaler_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
}

void PixelConverter::fromWords(const FrameBitmap& bitmap, AVFrame& frame) {
    prepare(frame.width, frame.height, AV_PIX_FMT_BGR0, static_cast<AVPixelFormat>(frame.format), frame.colorspace,
            frame.color_range, false);
    const std::uint8_t* planes[4] = {static_cast<const std::uint8_t*>(bitmap.pixels), nullptr, nullptr, nullptr};
    const int strides[4] = {bitmap.pitch, 0, 0, 0};
    sws_scale(scaler_.get(), planes, strides, 0, frame.height, frame.data, frame.linesize);
}

void PixelConverter::prepare(int width, int height, AVPixelFormat from, AVPixelFormat to, AVColorSpace matrix,
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

}  // namespace crest::cli

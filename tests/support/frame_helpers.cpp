#include "tests/support/frame_helpers.h"

#include <utility>

namespace crest::testing {

void loadPicture(PlainFrame& bitmap, const pictures::Picture& picture) {
    for (std::int32_t y = 0; y < picture.height; ++y)
        for (std::int32_t x = 0; x < picture.width; ++x) bitmap.set(x, y, picture.at(x, y));
}

std::vector<std::uint32_t> framePixels(const PlainFrame& bitmap) {
    std::vector<std::uint32_t> pixels;
    pixels.reserve(static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height));
    for (std::int32_t y = 0; y < bitmap.height; ++y)
        for (std::int32_t x = 0; x < bitmap.width; ++x) pixels.push_back(bitmap.get(x, y));
    return pixels;
}

namespace {

// The picture through run(destination view, source view), which returns an EnlargeStatus.
template <typename Run>
EnlargedFrame enlargeThrough(Run run, const pictures::Picture& picture, BitmapLayout sourceLayout,
                             BitmapLayout destinationLayout) {
    PlainFrame source(picture.width, picture.height, sourceLayout.rowPadding, sourceLayout.bottomUp);
    loadPicture(source, picture);
    PlainFrame destination(2 * picture.width, 2 * picture.height, destinationLayout.rowPadding,
                           destinationLayout.bottomUp);
    for (std::int32_t y = 0; y < destination.height; ++y)
        for (std::int32_t x = 0; x < destination.width; ++x) destination.set(x, y, kUnwrittenPixel);
    EnlargedFrame frame;
    frame.result = run(destination.view(), std::as_const(source).view());
    frame.width = destination.width;
    frame.height = destination.height;
    frame.pixels = framePixels(destination);
    return frame;
}

}  // namespace

EnlargedFrame enlarge(EnlargerState& state, const pictures::Picture& picture, BitmapLayout source,
                      BitmapLayout destination) {
    return enlargeThrough(
        [&](const FrameView& to, const ConstFrameView& from) { return enlargeFrame(state, to, from); }, picture, source,
        destination);
}

EnlargedFrame enlarge(const pictures::Picture& picture, BitmapLayout source, BitmapLayout destination) {
    EnlargerState state;
    return enlarge(state, picture, source, destination);
}

EnlargedFrame enlarge(const pictures::Picture& picture, const EngineKernels& kernels) {
    EnlargerState state;
    return enlargeThrough(
        [&](const FrameView& to, const ConstFrameView& from) { return enlargeFrame(state, to, from, kernels); },
        picture, {}, {});
}

EnlargedFrame enlargeWithoutPool(EnlargerState& state, const pictures::Picture& picture) {
    return enlargeThrough(
        [&](const FrameView& to, const ConstFrameView& from) { return enlargeFrameWithoutPool(state, to, from); },
        picture, {}, {});
}

}  // namespace crest::testing

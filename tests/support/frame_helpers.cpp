#include "tests/support/frame_helpers.h"

namespace crest::testing {

void loadPicture(FrameBitmap& bitmap, const pictures::Picture& picture) {
    for (std::int32_t y = 0; y < picture.height; ++y)
        for (std::int32_t x = 0; x < picture.width; ++x) bitmap.set(x, y, picture.at(x, y));
}

std::vector<std::uint32_t> framePixels(const FrameBitmap& bitmap) {
    std::vector<std::uint32_t> pixels;
    pixels.reserve(static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height));
    for (std::int32_t y = 0; y < bitmap.height; ++y)
        for (std::int32_t x = 0; x < bitmap.width; ++x) pixels.push_back(bitmap.get(x, y));
    return pixels;
}

EnlargedFrame enlarge(EnlargerState& state, const pictures::Picture& picture, BitmapLayout sourceLayout,
                      BitmapLayout destinationLayout) {
    FrameBitmap source(picture.width, picture.height, sourceLayout.rowPadding, sourceLayout.bottomUp);
    loadPicture(source, picture);
    FrameBitmap destination(2 * picture.width, 2 * picture.height, destinationLayout.rowPadding,
                            destinationLayout.bottomUp);
    const FilterCallContext context{nullptr, &state, &destination, &source};
    EnlargedFrame frame;
    frame.result = enlargeFrame(state, context);
    frame.width = destination.width;
    frame.height = destination.height;
    frame.pixels = framePixels(destination);
    return frame;
}

EnlargedFrame enlarge(const pictures::Picture& picture, BitmapLayout source, BitmapLayout destination) {
    EnlargerState state;
    return enlarge(state, picture, source, destination);
}

}  // namespace crest::testing

// Enlarges one generated picture a few times, for profilers:
//   profile_frame [natural|flat|noise] [width] [height] [frames] [source.raw]
// With a fifth argument it also writes the source as a raw BGRA frame.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/enlarger.h"
#include "tests/support/picture_generator.h"
#include "tests/support/plain_frame.h"

int main(int argc, char** argv) {
    using crest::pictures::Content;
    const char* name = argc > 1 ? argv[1] : "natural";
    const int width = argc > 2 ? std::atoi(argv[2]) : 640;
    const int height = argc > 3 ? std::atoi(argv[3]) : 360;
    const int frames = argc > 4 ? std::atoi(argv[4]) : 1;
    const Content content = std::strcmp(name, "flat") == 0    ? Content::flat
                            : std::strcmp(name, "noise") == 0 ? Content::noise
                                                              : Content::natural;
    const auto picture = crest::pictures::makePicture(content, width, height, 2026);
    crest::testing::PlainFrame source(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) source.set(x, y, picture.at(x, y) | 0xFF000000u);
    if (argc > 5) {
        std::FILE* raw = std::fopen(argv[5], "wb");
        if (raw == nullptr) return 2;
        for (int y = 0; y < height; ++y) std::fwrite(source.row(y), 4, static_cast<std::size_t>(width), raw);
        std::fclose(raw);
    }
    crest::testing::PlainFrame destination(2 * width, 2 * height);
    crest::EnlargerState state;
    const crest::testing::PlainFrame& input = source;
    std::uint64_t hash = 1469598103934665603ull;
    for (int frame = 0; frame < frames; ++frame)
        if (crest::enlargeFrame(state, destination.view(), input.view()) != 0) return 1;
    for (int y = 0; y < destination.height; ++y)
        for (int x = 0; x < destination.width; ++x) hash = (hash ^ destination.get(x, y)) * 1099511628211ull;
    std::printf("%s %dx%d frames %d hash %016llx\n", name, width, height, frames,
                static_cast<unsigned long long>(hash));
    return 0;
}

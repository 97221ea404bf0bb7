// Writes the raw frames that scripts/test-windows.sh enlarges with both the
// native and the Windows command. Usage: write_test_frames OUTDIR
//
// Each OUTDIR/NAME.raw holds one or more frames of one size: rows top to
// bottom, 4 bytes a pixel in the order blue, green, red, alpha.
// OUTDIR/frames.txt lists "NAME WIDTH HEIGHT".
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/picture_generator.h"

namespace {

using crest::pictures::Content;

struct FrameSize {
    std::int32_t width;
    std::int32_t height;
};

// Tiny frames reach the border paths only; the larger ones span many pool
// blocks and odd sizes leave a partial last column and row.
constexpr FrameSize kSizes[] = {{1, 1}, {2, 2}, {3, 3}, {2, 1}, {1, 4}, {5, 2}, {7, 5},
                                {16, 16}, {33, 18}, {97, 61}, {160, 90}};

// Several pictures of one size make a stream of frames in one file.
bool writeFrames(const std::string& path, const std::vector<crest::pictures::Picture>& pictures) {
    std::vector<unsigned char> bytes;
    for (const crest::pictures::Picture& picture : pictures)
        for (std::uint32_t pixel : picture.pixels)
            for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<unsigned char>(pixel >> shift));
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[1];
    std::FILE* list = std::fopen((directory + "/frames.txt").c_str(), "w");
    if (list == nullptr) {
        std::fprintf(stderr, "cannot write %s/frames.txt\n", directory.c_str());
        return 1;
    }
    struct Kind {
        const char* name;
        Content content;
        bool junkAlpha;  // the engine must ignore the top byte, in every build alike
    };
    const Kind kinds[] = {{"natural", Content::natural, false}, {"noise", Content::noise, true}};
    std::uint64_t seed = 1;
    for (const Kind& kind : kinds) {
        for (const FrameSize& size : kSizes) {
            crest::pictures::Picture picture =
                crest::pictures::makePicture(kind.content, size.width, size.height, seed);
            if (kind.junkAlpha) crest::pictures::scrambleTopBytes(picture, seed + 1000);
            ++seed;
            const std::string name =
                std::string(kind.name) + "_" + std::to_string(size.width) + "x" + std::to_string(size.height);
            if (!writeFrames(directory + "/" + name + ".raw", {picture})) {
                std::fprintf(stderr, "cannot write %s/%s.raw\n", directory.c_str(), name.c_str());
                std::fclose(list);
                return 1;
            }
            std::fprintf(list, "%s %d %d\n", name.c_str(), static_cast<int>(size.width), static_cast<int>(size.height));
        }
    }

    // One instance enlarges frame after frame: its reused pool and caches
    // must not carry anything over.
    const std::vector<crest::pictures::Picture> stream = {
        crest::pictures::makePicture(Content::natural, 64, 45, 100),
        crest::pictures::makePicture(Content::noise, 64, 45, 101),
        crest::pictures::makePicture(Content::strokes, 64, 45, 102)};
    if (!writeFrames(directory + "/stream_64x45.raw", stream)) {
        std::fprintf(stderr, "cannot write %s/stream_64x45.raw\n", directory.c_str());
        std::fclose(list);
        return 1;
    }
    std::fprintf(list, "stream_64x45 64 45\n");
    return std::fclose(list) == 0 ? 0 : 1;
}

// Pictures through the built command: every format and colour type, with
// alpha enlarged as a grey picture of its own, in and out by extension.
#include <cctype>
#include <cmath>
#include <set>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

struct PictureCase {
    const char* name;
    const char* extension;
    int bands;  // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    int depth;
    const char* saveOptions = "";  // libvips's, e.g. "[palette]"
    bool lossless = true;          // the input's samples are exactly the generated ones
};

void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

const PictureCase kCases[] = {
    {"png_grey8", "png", 1, 8},
    {"png_grey16", "png", 1, 16},
    {"png_greyAlpha8", "png", 2, 8},
    {"png_greyAlpha16", "png", 2, 16},
    {"png_rgb8", "png", 3, 8},
    {"png_rgb16", "png", 3, 16},
    {"png_rgba8", "png", 4, 8},
    {"png_rgba16", "png", 4, 16},
    {"png_palette", "png", 3, 8, "[palette]", false},
    {"png_paletteAlpha", "png", 4, 8, "[palette]", false},
    {"png_interlaced", "png", 3, 8, "[interlace]"},
    {"jpeg_grey8", "jpg", 1, 8, "[Q=95]", false},
    {"jpeg_rgb8", "JPEG", 3, 8, "[Q=95]", false},
    {"webp_rgb8", "webp", 3, 8, "[lossless]"},
    {"webp_rgba8", "webp", 4, 8, "[lossless]", false},
    {"tiff_grey8", "tif", 1, 8},
    {"tiff_grey16", "tiff", 1, 16},
    {"tiff_greyAlpha8", "tif", 2, 8},
    {"tiff_rgb8", "tif", 3, 8},
    {"tiff_rgb16", "tif", 3, 16},
    {"tiff_rgba8", "tif", 4, 8},
    {"tiff_rgba16", "tif", 4, 16, "[compression=lzw]"},
    {"jxl_grey8", "jxl", 1, 8, "[lossless]"},
    {"jxl_rgba8", "JXL", 4, 8, "[lossless]"},
    {"avif_rgb8", "avif", 3, 8, "", false},
    {"avif_rgba8", "avif", 4, 8, "", false},
    {"heic_rgb8", "heic", 3, 8, "", false},
    {"heif_greyAlpha8", "heif", 2, 8, "", false},
    {"gif_rgb8", "gif", 3, 8, "", false},
    {"gif_rgba8", "gif", 4, 8, "", false},
};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class PictureFormatTest : public CommandTest, public ::testing::WithParamInterface<PictureCase> {
protected:
    // The output of in.EXT as out.OUTEXT, against the engine's enlargement of
    // the source's colour and of its alpha plane.
    void checkOutput(const Samples& source, const std::string& outputExtension) {
        const std::string output = "out." + outputExtension;
        const CommandResult result = runCrestdoubler({path(std::string("in.") + GetParam().extension), path(output)});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::string kind = lower(outputExtension);
        const bool holdsAlpha = kind != "jpg" && kind != "jpeg";
        EXPECT_EQ(result.err.empty(), holdsAlpha || !source.hasAlpha()) << result.err;

        const Samples out = readPicture(path(output));
        ASSERT_EQ(out.width, 2 * source.width);
        ASSERT_EQ(out.height, 2 * source.height);
        const bool heif = kind == "avif" || kind == "heic" || kind == "heif";
        const bool lossyAlpha = heif || kind == "jxl";
        const bool grey = source.bands <= 2 && kind != "webp" && !heif;
        const bool alpha = source.hasAlpha() && holdsAlpha;
        ASSERT_EQ(out.bands, (grey ? 1 : 3) + (alpha ? 1 : 0)) << output;

        const std::vector<std::uint32_t> colour = engineEnlargement(colourPicture(source));
        const std::vector<std::uint32_t> alphaPlane =
            source.hasAlpha() ? engineEnlargement(alphaPicture(source)) : std::vector<std::uint32_t>();
        const bool lossy = kind == "jpg" || kind == "jpeg" || kind == "webp" || lossyAlpha;
        double difference = 0;
        std::size_t compared = 0;
        for (std::int32_t y = 0; y < out.height; ++y)
            for (std::int32_t x = 0; x < out.width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * out.width + x;
                if (alpha) {
                    const std::uint8_t expected = (alphaPlane[i] >> 8) & 0xFF;
                    // HEIF and JPEG XL code their alpha plane as lossily as their colours.
                    if (lossyAlpha) {
                        difference += std::abs(out.at(x, y, out.bands - 1) - expected);
                        ++compared;
                    } else {
                        ASSERT_EQ(out.at(x, y, out.bands - 1), expected) << output << " " << x << "," << y;
                    }
                    if (expected == 0) continue;  // WebP may change hidden colours
                }
                const std::uint32_t expected = colour[i] & 0xFFFFFF;
                if (!lossy) {
                    ASSERT_EQ(out.colour(x, y), expected) << output << " " << x << "," << y;
                    continue;
                }
                for (const int shift : {16, 8, 0})
                    difference += std::abs(static_cast<int>((out.colour(x, y) >> shift) & 0xFF) -
                                           static_cast<int>((expected >> shift) & 0xFF));
                compared += 3;
            }
        if (lossy) {
            // Quality 92 strays by a few levels; a channel or pixel out of place by tens.
            EXPECT_LT(difference / static_cast<double>(compared), 10.0) << output << " strays from the module's words";
        }
    }
};

TEST_P(PictureFormatTest, EnlargesColourAndAlphaLikeTheModule) {
    const PictureCase& c = GetParam();
    for (const auto& [width, height] : {std::pair{3, 5}, std::pair{40, 33}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const Samples made = makeSamples(width, height, c.bands, c.depth, width * 31 + height);
        const std::string input = std::string("in.") + c.extension;
        writePicture(path(input).string() + c.saveOptions, made);
        // What a reader must see: the very samples, or the codec's own decoding.
        const Samples source = c.lossless ? made : readPicture(path(input));
        // GIF is read only.
        std::set<std::string> outputs{lower(c.extension) == "gif" ? "png" : c.extension, "png"};
        for (const std::string& extension : outputs) checkOutput(source, extension);
    }
}

INSTANTIATE_TEST_SUITE_P(FormatsAndColourTypes, PictureFormatTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<PictureCase>& info) { return info.param.name; });

class KeepTagsTest : public CommandTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(KeepTagsTest, WritesTheLumaTagAsAlpha) {
    const Samples made = makeSamples(17, 9, 3, 8, 77);
    writePicture(path("in.png").string(), made);
    const std::string output = std::string("out.") + GetParam();
    const CommandResult result = runCrestdoubler({"--keep-tags", path("in.png"), path(output)});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const Samples out = readPicture(path(output));
    ASSERT_EQ(out.bands, 4);
    const std::vector<std::uint32_t> engine = engineEnlargement(colourPicture(made));
    ASSERT_EQ(static_cast<std::size_t>(out.width) * out.height, engine.size());
    for (std::int32_t y = 0; y < out.height; ++y)
        for (std::int32_t x = 0; x < out.width; ++x)
            ASSERT_EQ((std::uint32_t{out.at(x, y, 3)} << 24) | out.colour(x, y),
                      engine[static_cast<std::size_t>(y) * out.width + x])
                << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(LosslessFormats, KeepTagsTest, ::testing::Values("png", "tif"));

class PictureOutputTest : public CommandTest {};

TEST_F(PictureOutputTest, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    writePicture(path("in.png").string(), makeSamples(12, 7, 3, 8, 5));
    writeFile(path("out.png"), "an older file");
    const CommandResult result = runCrestdoubler({path("in.png"), path("out.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readPicture(path("out.png")).width, 24);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"in.png", "out.png"}));
}

TEST_F(PictureOutputTest, RawFrameToPictureAndPictureToRawAgreeWithTheEngine) {
    const pictures::Picture picture = rawTestPicture(9, 6, 12);
    writeFile(path("in.raw"), rawBytes(picture.pixels));
    ASSERT_EQ(runCrestdoubler({"--size", "9x6", "--keep-tags", path("in.raw"), path("from-raw.png")}).exitCode, 0);
    const Samples fromRaw = readPicture(path("from-raw.png"));
    const std::vector<std::uint32_t> engine = engineEnlargement(picture);
    ASSERT_EQ(static_cast<std::size_t>(fromRaw.width) * fromRaw.height, engine.size());
    for (std::size_t i = 0; i < engine.size(); ++i) {
        const std::int32_t x = static_cast<std::int32_t>(i % fromRaw.width),
                           y = static_cast<std::int32_t>(i / fromRaw.width);
        ASSERT_EQ((std::uint32_t{fromRaw.at(x, y, 3)} << 24) | fromRaw.colour(x, y), engine[i]) << i;
    }

    // Back through raw output: the same words, the alpha left out with a note.
    const Samples rgba = makeSamples(9, 6, 4, 8, 12);
    writePicture(path("rgba.png").string(), rgba);
    const CommandResult result = runCrestdoubler({path("rgba.png"), path("out.raw")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("alpha"), std::string::npos) << result.err;
    EXPECT_EQ(rawWords(readFile(path("out.raw"))), engineEnlargement(colourPicture(rgba)));
}

}  // namespace
}  // namespace crest::clitest

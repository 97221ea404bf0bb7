// PNG images through the built command: every colour type and depth, odd sizes, tags as alpha.
#include <png.h>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

struct PngCase {
    PngKind kind;
    std::int32_t width;
    std::int32_t height;
};

void PrintTo(const PngCase& c, std::ostream* os) { *os << c.kind.name << " " << c.width << "x" << c.height; }

std::string caseName(const ::testing::TestParamInfo<PngCase>& info) {
    return std::string(info.param.kind.name) + "_" + std::to_string(info.param.width) + "x" +
           std::to_string(info.param.height);
}

const PngKind kGrey1{"grey1", PNG_COLOR_TYPE_GRAY, 1};
const PngKind kGrey4{"grey4", PNG_COLOR_TYPE_GRAY, 4};
const PngKind kGrey8{"grey8", PNG_COLOR_TYPE_GRAY, 8};
const PngKind kGrey16{"grey16", PNG_COLOR_TYPE_GRAY, 16};
const PngKind kGreyAlpha8{"greyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8};
const PngKind kGreyAlpha16{"greyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16};
const PngKind kRgb8{"rgb8", PNG_COLOR_TYPE_RGB, 8};
const PngKind kRgb16{"rgb16", PNG_COLOR_TYPE_RGB, 16};
const PngKind kRgba8{"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8};
const PngKind kRgba16{"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16};
const PngKind kPalette4{"palette4", PNG_COLOR_TYPE_PALETTE, 4};
const PngKind kPalette8{"palette8", PNG_COLOR_TYPE_PALETTE, 8};
const PngKind kRgb8Interlaced{"rgb8Interlaced", PNG_COLOR_TYPE_RGB, 8, true};
const PngKind kPalette8Interlaced{"palette8Interlaced", PNG_COLOR_TYPE_PALETTE, 8, true};

std::vector<PngCase> allCases() {
    std::vector<PngCase> cases;
    for (const PngKind& kind : {kGrey1, kGrey4, kGrey8, kGrey16, kGreyAlpha8, kGreyAlpha16, kRgb8, kRgb16, kRgba8,
                                kRgba16, kPalette4, kPalette8, kRgb8Interlaced, kPalette8Interlaced})
        for (auto [width, height] : {std::pair{1, 1}, std::pair{3, 5}, std::pair{17, 9}, std::pair{40, 33}})
            cases.push_back({kind, width, height});
    return cases;
}

class PngModeTest : public CommandTest, public ::testing::WithParamInterface<PngCase> {};

TEST_P(PngModeTest, EnlargesToRgbMatchingTheEngine) {
    const PngCase& c = GetParam();
    const pictures::Picture seen = writeTestPng(path("in.png"), c.kind, c.width, c.height, c.width * 31 + c.height);
    const CommandResult result = runCrestdoubler({path("in.png"), path("out.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");

    const DecodedPng out = readPng(path("out.png"));
    ASSERT_EQ(out.width, 2 * c.width);
    ASSERT_EQ(out.height, 2 * c.height);
    EXPECT_EQ(out.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(out.bitDepth, 8);

    const std::vector<std::uint32_t> engine = engineEnlargement(seen);
    for (std::int32_t y = 0; y < out.height; ++y)
        for (std::int32_t x = 0; x < out.width; ++x) {
            const std::uint8_t* rgb = out.pixel(x, y);
            const std::uint32_t colour = (rgb[0] << 16) | (rgb[1] << 8) | rgb[2];
            if (x % 2 == 0 && y % 2 == 0) {
                ASSERT_EQ(colour, seen.at(x / 2, y / 2)) << "source pixel " << x / 2 << "," << y / 2;
            }
            ASSERT_EQ(colour, engine[static_cast<std::size_t>(y) * out.width + x] & 0xFFFFFF) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(ColourTypesAndSizes, PngModeTest, ::testing::ValuesIn(allCases()), caseName);

class KeepTagsTest : public CommandTest, public ::testing::WithParamInterface<PngCase> {};

TEST_P(KeepTagsTest, WritesTheLumaTagAsAlpha) {
    const PngCase& c = GetParam();
    const pictures::Picture seen = writeTestPng(path("in.png"), c.kind, c.width, c.height, 77);
    const CommandResult result = runCrestdoubler({"--keep-tags", path("in.png"), path("out.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const DecodedPng out = readPng(path("out.png"));
    ASSERT_EQ(out.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
    ASSERT_EQ(out.width, 2 * c.width);
    ASSERT_EQ(out.height, 2 * c.height);
    const std::vector<std::uint32_t> engine = engineEnlargement(seen);
    for (std::int32_t y = 0; y < out.height; ++y)
        for (std::int32_t x = 0; x < out.width; ++x) {
            const std::uint8_t* rgba = out.pixel(x, y);
            const std::uint32_t word =
                (std::uint32_t{rgba[3]} << 24) | (rgba[0] << 16) | (rgba[1] << 8) | std::uint32_t{rgba[2]};
            if (x % 2 == 0 && y % 2 == 0) {
                const std::uint32_t source = seen.at(x / 2, y / 2);
                const std::uint32_t luma =
                    (77 * ((source >> 16) & 0xFF) + 150 * ((source >> 8) & 0xFF) + 29 * (source & 0xFF) + 128) >> 8;
                ASSERT_EQ(rgba[3], luma) << x << "," << y;
            }
            ASSERT_EQ(word, engine[static_cast<std::size_t>(y) * out.width + x]) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Sizes, KeepTagsTest,
                         ::testing::Values(PngCase{kRgb8, 1, 1}, PngCase{kRgba16, 3, 5}, PngCase{kGrey8, 17, 9},
                                           PngCase{kPalette8, 24, 16}),
                         caseName);

class PngOutputTest : public CommandTest {};

TEST_F(PngOutputTest, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    writeTestPng(path("in.png"), kRgb8, 12, 7, 5);
    writeFile(path("out.png"), "an older file");
    const CommandResult result = runCrestdoubler({path("in.png"), path("out.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readPng(path("out.png")).width, 24);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"in.png", "out.png"}));
}

TEST_F(PngOutputTest, UpperCaseExtensionIsStillPng) {
    writeTestPng(path("in.PNG"), kRgb8, 6, 4, 5);
    const CommandResult result = runCrestdoubler({path("in.PNG"), path("out.Png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readPng(path("out.Png")).height, 8);
}

TEST_F(PngOutputTest, RawFrameToPngAndPngToRawAgreeWithPngToPng) {
    const pictures::Picture picture = rawTestPicture(9, 6, 12);
    writeFile(path("in.raw"), rawBytes(picture.pixels));
    ASSERT_EQ(runCrestdoubler({"--size", "9x6", "--keep-tags", path("in.raw"), path("from-raw.png")}).exitCode, 0);
    const DecodedPng fromRaw = readPng(path("from-raw.png"));

    const std::vector<std::uint32_t> engine = engineEnlargement(picture);
    ASSERT_EQ(fromRaw.width * fromRaw.height, static_cast<std::int32_t>(engine.size()));
    for (std::size_t i = 0; i < engine.size(); ++i) {
        const std::uint8_t* rgba = fromRaw.samples.data() + 4 * i;
        ASSERT_EQ((std::uint32_t{rgba[3]} << 24) | (rgba[0] << 16) | (rgba[1] << 8) | rgba[2], engine[i]) << i;
    }

    // Back through raw output: the same words.
    const pictures::Picture seen = writeTestPng(path("rgb.png"), kRgb8, 9, 6, 12);
    ASSERT_EQ(runCrestdoubler({path("rgb.png"), path("out.raw")}).exitCode, 0);
    EXPECT_EQ(rawWords(readFile(path("out.raw"))), engineEnlargement(seen));
}

}  // namespace
}  // namespace crest::clitest

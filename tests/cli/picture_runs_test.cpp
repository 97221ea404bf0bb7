// Runs over pictures: metadata carried, folders enlarged, interrupts cleaned up.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

namespace fs = std::filesystem;

struct MetadataCase {
    const char* extension;
    bool sameProfile;      // byte for byte; JPEG XL keeps the colours its own way
    bool orientationTag;   // or the pixels turned upright
    const char* resolution;  // where: "xres" (pixels per millimetre), "exif", or "" for nowhere
};

void PrintTo(const MetadataCase& c, std::ostream* os) { *os << c.extension; }

class PictureMetadataTest : public CommandTest, public ::testing::WithParamInterface<MetadataCase> {};

// A photograph's profile, orientation and resolution go into every format
// that holds them; the resolution doubles with the pixels, so the printed size stays.
TEST_P(PictureMetadataTest, ProfileOrientationAndResolutionAreKept) {
    const MetadataCase& c = GetParam();
    const PictureMetadata metadata{builtInProfile("p3"), 6, 300};
    writePicture(path("in.jpg").string(), makeSamples(24, 16, 3, 8, 4), metadata);
    const std::string output = std::string("out.") + c.extension;
    const CommandResult result = runCrestdoubler({path("in.jpg"), path(output)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const std::string profile = pictureField(path(output), "icc-profile-data");
    if (c.sameProfile) EXPECT_EQ(profile, metadata.iccProfile);
    else EXPECT_NE(profile.find("XYZ"), std::string::npos) << "no profile";
    // Orientation 6 turns the 48x32 enlargement a quarter round.
    EXPECT_EQ(readPicture(path(output)).width, c.orientationTag ? 48 : 32);
    const std::string orientation = pictureField(path(output), "orientation");
    if (c.orientationTag) EXPECT_EQ(orientation, "6");
    else EXPECT_NE(orientation, "6");
    if (c.resolution == std::string()) return;
    for (const auto& [exifField, field] :
         {std::pair{"exif-ifd0-XResolution", "xres"}, std::pair{"exif-ifd0-YResolution", "yres"}}) {
        const std::string exif = pictureField(path(output), exifField);
        const double perInch = c.resolution == std::string("exif")
                                   ? std::stod(exif.substr(exif.find('(') + 1))
                                   : std::stod(pictureField(path(output), field)) * 25.4;
        EXPECT_NEAR(perInch, 600, 0.5) << field;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PictureMetadataTest,
    ::testing::Values(MetadataCase{"jpg", true, true, "xres"}, MetadataCase{"png", true, true, "xres"},
                      MetadataCase{"tif", true, true, "xres"}, MetadataCase{"webp", true, true, "exif"},
                      MetadataCase{"jxl", false, false, ""}, MetadataCase{"avif", true, false, "exif"},
                      MetadataCase{"heic", true, false, "exif"}),
    [](const ::testing::TestParamInfo<MetadataCase>& info) { return std::string(info.param.extension); });

TEST_F(CommandTest, PngGammaAndSrgbChunksAreKept) {
    writePicture(path("plain.png").string(), makeSamples(9, 7, 4, 8, 2));
    const std::string plain = readFile(path("plain.png"));
    const std::string chunks =
        pngChunk("gAMA", std::string("\0\0\xb1\x8f", 4)) + pngChunk("sRGB", std::string(1, '\0'));
    constexpr std::size_t kHeaderEnd = 8 + 25;
    writeFile(path("in.png"), plain.substr(0, kHeaderEnd) + chunks + plain.substr(kHeaderEnd));

    const CommandResult result = runCrestdoubler({path("in.png"), path("out.png")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(path("out.png")).substr(kHeaderEnd, chunks.size()), chunks);
}

// A folder and a file into OUTDIR with a suffix, two files side by side: the
// damaged one is reported, the others are written as single runs write them.
TEST_F(CommandTest, FolderOfPicturesGoesOnPastAFailingFile) {
    fs::create_directory(path("pictures"));
    writePicture(path("pictures/a.png").string(), makeSamples(11, 7, 4, 8, 1));
    writePicture(path("pictures/b.JPG").string(), makeSamples(8, 9, 1, 8, 2));
    writePicture(path("pictures/c.webp").string(), makeSamples(5, 6, 3, 8, 3));
    writePicture(path("pictures/d.gif").string(), makeSamples(5, 4, 3, 8, 5));  // read only: written as PNG
    writeFile(path("pictures/damaged.tif"), "II*\0 and nothing a TIFF reader could use");
    writeFile(path("pictures/notes.txt"), "not a picture");
    writePicture(path("single.tiff").string(), makeSamples(6, 6, 3, 16, 4));

    const CommandResult result = runCrestdoubler(
        {"-o", path("out"), "--suffix", "-2x", "--threads", "2", path("pictures"), path("single.tiff")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(path("pictures/damaged.tif").string()), std::string::npos) << result.err;
    // The failure, then what the run did.
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
    EXPECT_NE(result.err.find("crestdoubler: 5 pictures enlarged, 0 skipped, 1 failed\n"), std::string::npos)
        << result.err;
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(path("out"))) written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"a-2x.png", "b-2x.JPG", "c-2x.webp", "d-2x.png", "single-2x.tiff"}));

    for (const std::string name : {"pictures/a.png", "pictures/b.JPG", "pictures/c.webp", "single.tiff"}) {
        const fs::path input = path(name);
        const std::string alone = "alone" + input.extension().string();
        ASSERT_EQ(runCrestdoubler({input, path(alone)}).exitCode, 0) << name;
        EXPECT_EQ(readFile(path("out") / (input.stem().string() + "-2x" + input.extension().string())),
                  readFile(path(alone)))
            << name;
    }
}

// Pictures cut in tiles for several instances, alpha included, are written
// as one instance writes them whole; a picture wider than a frame goes in columns.
TEST_F(CommandTest, PicturesInTilesEqualOneInstance) {
    struct Case {
        const char* name;
        Samples samples;
        const char* threads;
    };
    const Case cases[] = {{"rgba.png", makeSamples(301, 263, 4, 8, 6), "3"},
                          {"grey-alpha.webp", makeSamples(97, 300, 2, 8, 7), "2"},
                          {"wide.jpg", makeSamples(16500, 12, 3, 8, 8), "1"},
                          {"tall.tif", makeSamples(24, 9000, 3, 8, 9), "2"}};
    for (const Case& c : cases) {
        writePicture(path(c.name).string(), c.samples);
        const std::string extension = fs::path(c.name).extension().string();
        const CommandResult tiled = runCrestdoubler({"--threads", c.threads, path(c.name), path("tiled" + extension)});
        ASSERT_EQ(tiled.exitCode, 0) << c.name << ": " << tiled.err;
        const Samples out = readPicture(path("tiled" + extension));
        EXPECT_EQ(out.width, 2 * c.samples.width) << c.name;
        EXPECT_EQ(out.height, 2 * c.samples.height) << c.name;
        if (c.samples.height > 8192) {
            // No whole run to compare with: the raw output's rows, as the encoder was handed them.
            ASSERT_EQ(runCrestdoubler({"--threads", c.threads, path(c.name), path("tiled.raw")}).exitCode, 0);
            const std::string raw = readFile(path("tiled.raw"));
            ASSERT_EQ(raw.size(), 4 * out.values.size() / 3) << c.name;
            for (std::size_t i = 0; i < out.values.size(); ++i)
                ASSERT_EQ(out.values[i], static_cast<std::uint8_t>(raw[i / 3 * 4 + 2 - i % 3]))
                    << c.name << " at " << i;
        }
        if (c.samples.width > 16384 || c.samples.height > 8192) continue;  // no whole run to compare with
        ASSERT_EQ(runCrestdoubler({"--threads", "1", path(c.name), path("whole" + extension)}).exitCode, 0) << c.name;
        EXPECT_EQ(readFile(path("tiled" + extension)), readFile(path("whole" + extension))) << c.name;
    }
}

struct Signal {
    int number;
    const char* name;
};

class InterruptTest : public CommandTest, public ::testing::WithParamInterface<Signal> {};

// The signal comes while the output is being written: its temporary file is
// removed and the status is 128 + the signal's number.
TEST_P(InterruptTest, RemovesTheTemporaryOutput) {
    writePicture(path("in.png").string(), makeSamples(1600, 1200, 3, 8, 6));
    const int pid = startProgram({CRESTDOUBLER_EXE, path("in.png"), path("out.png")});
    auto writing = [&] {
        for (const auto& entry : fs::directory_iterator(folder_))
            if (entry.path().filename().string().rfind(".out.part-", 0) == 0) return true;
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!writing() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(writing()) << "the command never began writing";
    kill(pid, GetParam().number);
    EXPECT_EQ(waitForProgram(pid), 128 + GetParam().number);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"in.png"});
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest,
                         ::testing::Values(Signal{SIGINT, "SIGINT"}, Signal{SIGTERM, "SIGTERM"},
                                           Signal{SIGHUP, "SIGHUP"}),
                         [](const ::testing::TestParamInfo<Signal>& info) { return info.param.name; });

}  // namespace
}  // namespace crest::clitest

// Running the built crestdoubler command and making its input files, for the end-to-end tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/frame_helpers.h"
#include "tests/support/picture_generator.h"

namespace crest::clitest {

struct CommandResult {
    int exitCode = -1;  // 128 + signal number when a signal ended the process
    std::string out;
    std::string err;
};

// Runs a program with stdin read from stdinPath; stdout and stderr are captured.
CommandResult runProgram(const std::vector<std::string>& argv, const std::string& stdinPath = "/dev/null");

// Starts a program with stdin, stdout and stderr on /dev/null; waitForProgram
// gives its exit code, 128 + signal number when a signal ended it.
int startProgram(const std::vector<std::string>& argv);
int waitForProgram(int pid);

// Runs the built command with the given arguments.
CommandResult runCrestdoubler(const std::vector<std::string>& arguments, const std::string& stdinPath = "/dev/null");

// Runs a shell pipeline; the words CRESTDOUBLER in it name the built command.
CommandResult runPipeline(const std::string& script);

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// A fresh folder per test, removed afterwards.
class CommandTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path path(const std::string& name) const { return folder_ / name; }
    std::vector<std::string> folderEntries() const;

    std::filesystem::path folder_;
};

// Raw frames: pixels as little-endian words, 4 bytes each.
std::string rawBytes(const std::vector<std::uint32_t>& pixels);
std::vector<std::uint32_t> rawWords(const std::string& bytes);

// What the engine gives for a picture when run in-process.
std::vector<std::uint32_t> engineEnlargement(const pictures::Picture& picture);

// A picture whose unused top bytes hold junk the filter must ignore.
pictures::Picture rawTestPicture(std::int32_t width, std::int32_t height, std::uint64_t seed);

// PNG input files of every colour type and depth libpng writes.
struct PngKind {
    const char* name;
    int colorType;  // PNG_COLOR_TYPE_*
    int bitDepth;
    bool interlaced = false;
};

// Writes a PNG of the given kind whose colours derive from a generated
// picture; returns the 8-bit RGB picture a reader should see in it.
pictures::Picture writeTestPng(const std::filesystem::path& path, const PngKind& kind, std::int32_t width,
                               std::int32_t height, std::uint64_t seed);

struct DecodedPng {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int colorType = -1;
    int bitDepth = 0;
    int channels = 0;
    std::vector<std::uint8_t> samples;  // row-major, channels bytes per pixel

    const std::uint8_t* pixel(std::int32_t x, std::int32_t y) const {
        return samples.data() + (static_cast<std::size_t>(y) * width + x) * channels;
    }
};

// Reads an 8-bit PNG without transformations.
DecodedPng readPng(const std::filesystem::path& path);

// A PNG whose header claims the given size, with no real image behind it.
std::string pngWithHeaderSize(std::uint32_t width, std::uint32_t height);

// Pictures through libvips: written from 8- or 16-bit samples, and read
// back as 8-bit samples (the high byte of 16-bit ones).
struct Samples {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bands = 0;  // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    int depth = 8;
    std::vector<std::uint16_t> values;  // row-major, bands per pixel

    std::uint16_t at(std::int32_t x, std::int32_t y, int band) const {
        return values[(static_cast<std::size_t>(y) * width + x) * bands + band];
    }
    bool hasAlpha() const { return bands == 2 || bands == 4; }
    // 0x00RRGGBB of a pixel; grey pictures give R = G = B.
    std::uint32_t colour(std::int32_t x, std::int32_t y) const;
};

// Samples of a generated picture: grey from its green; alpha random.
Samples makeSamples(std::int32_t width, std::int32_t height, int bands, int depth, std::uint64_t seed);

// What a picture file may carry besides its pixels; empty fields are left out.
struct PictureMetadata {
    std::string iccProfile;
    int orientation = 0;       // EXIF, 1 to 8
    double pixelsPerInch = 0;  // both directions
};

// Saves through libvips; options in its [key=value] form may follow the path.
void writePicture(const std::string& pathAndOptions, const Samples& samples, const PictureMetadata& metadata = {});

// One of the colour profiles libvips carries, e.g. "p3".
std::string builtInProfile(const std::string& name);

// A PNG chunk: length, type, data and CRC.
std::string pngChunk(const std::string& type, const std::string& data);
Samples readPicture(const std::filesystem::path& path);

// The colour and the alpha of samples as 8-bit pictures the engine takes.
pictures::Picture colourPicture(const Samples& samples);
pictures::Picture alphaPicture(const Samples& samples);

// A metadata field of a picture file as libvips reads it: a string, a
// number or the bytes of a blob; empty when absent.
std::string pictureField(const std::filesystem::path& path, const std::string& name);

}  // namespace crest::clitest

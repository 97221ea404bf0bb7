// 4 and 8 times as repeated doubling, and target sizes reached by doubling
// and a reduction, for pictures, raw frames and films.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/base/command_error.h"
#include "cli/base/scale.h"
#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

namespace fs = std::filesystem;
using cli::Enlargement;
using cli::FrameSize;
using cli::ScaleRequest;

struct PlanCase {
    const char* name;
    ScaleRequest request;
    FrameSize source;
    int passes;
    std::optional<FrameSize> target;  // none: the doublings are the output
};

TEST(EnlargementPlan, TakesTheFewestDoublingsThatReachTheTarget) {
    const PlanCase cases[] = {
        {"scale 2", {2, {}, {}}, {320, 200}, 1, {}},
        {"scale 8", {8, {}, {}}, {320, 200}, 3, {}},
        {"width exactly 4x", {2, 1280, {}}, {320, 200}, 2, {}},
        {"width between", {2, 1000, {}}, {320, 200}, 2, FrameSize{1000, 625}},
        {"height rounds the width", {2, {}, 333}, {320, 200}, 1, FrameSize{533, 333}},
        {"both sides, the larger rules", {2, 700, 300}, {320, 200}, 2, FrameSize{700, 300}},
        {"the source's size still doubles", {2, 320, 200}, {320, 200}, 1, FrameSize{320, 200}},
        {"16 times", {2, 5120, {}}, {320, 200}, 4, {}},
    };
    for (const PlanCase& c : cases) {
        const Enlargement plan = cli::planEnlargement(c.request, c.source, "in.png");
        EXPECT_EQ(plan.passes, c.passes) << c.name;
        ASSERT_EQ(plan.target.has_value(), c.target.has_value()) << c.name;
        if (c.target) {
            EXPECT_EQ(plan.target->width, c.target->width) << c.name;
            EXPECT_EQ(plan.target->height, c.target->height) << c.name;
        }
    }
}

TEST(EnlargementPlan, RefusesTargetsBelowTheSourceOrBeyondSixteenTimes) {
    const std::pair<ScaleRequest, const char*> cases[] = {
        {{2, 319, {}}, "the target 319x199 is smaller than in.png, 320x200"},
        {{2, 400, 150}, "the target 400x150 is smaller than in.png, 320x200"},
        {{2, 5121, {}}, "the target 5121x3201 is more than 16 times in.png, 320x200"},
    };
    for (const auto& [request, message] : cases) {
        try {
            cli::planEnlargement(request, {320, 200}, "in.png");
            ADD_FAILURE() << message;
        } catch (const cli::CommandError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(message, 0), 0u) << error.what();
            EXPECT_EQ(error.status(), cli::ExitStatus::usage);
        }
    }
}

class ScaleTest : public CommandTest {
protected:
    void run(const std::vector<std::string>& arguments) {
        const CommandResult result = runCrestdoubler(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
};

// Each pass is the module's enlargement of the colour the pass before gave:
// the same words as the command run on its own output, in tiles and bands
// on several instances or on one, alpha included.
TEST_F(ScaleTest, FourAndEightTimesArePicturesDoubledAgain) {
    writePicture(path("in.png").string(), makeSamples(150, 97, 4, 8, 11));
    run({"--threads", "1", path("in.png"), path("x2.png")});
    run({"--threads", "1", path("x2.png"), path("x4.png")});
    run({"--threads", "1", path("x4.png"), path("x8.raw")});
    run({"--threads", "1", path("x2.png"), path("x4.raw")});
    for (const char* threads : {"1", "3"}) {
        run({"--scale", "4", "--threads", threads, path("in.png"), path("scale4.png")});
        EXPECT_EQ(readFile(path("scale4.png")), readFile(path("x4.png"))) << threads;
        run({"--scale", "4", "--threads", threads, path("in.png"), path("scale4.raw")});
        EXPECT_EQ(readFile(path("scale4.raw")), readFile(path("x4.raw"))) << threads;
        run({"--scale", "8", "--threads", threads, path("in.png"), path("scale8.raw")});
        EXPECT_EQ(readFile(path("scale8.raw")), readFile(path("x8.raw"))) << threads;
    }
    const Samples eight = readPicture((run({"--scale", "8", path("in.png"), path("scale8.png")}), path("scale8.png")));
    EXPECT_EQ(eight.width, 8 * 150);
    EXPECT_EQ(eight.height, 8 * 97);
}

TEST_F(ScaleTest, RawStreamsAreDoubledAgainFrameByFrame) {
    std::string frames;
    for (std::uint64_t seed = 1; seed <= 3; ++seed) frames += rawBytes(rawTestPicture(37, 23, seed).pixels);
    writeFile(path("in.raw"), frames);
    run({"--size", "37x23", path("in.raw"), path("x2.raw")});
    run({"--size", "74x46", path("x2.raw"), path("x4.raw")});
    run({"--scale", "4", "--threads", "2", "--size", "37x23", path("in.raw"), path("scale4.raw")});
    EXPECT_EQ(readFile(path("scale4.raw")), readFile(path("x4.raw")));
}

TEST_F(ScaleTest, TargetSizesAreExact) {
    writePicture(path("in.jpg").string(), makeSamples(64, 40, 3, 8, 12));
    writeFile(path("in.raw"),
              rawBytes(rawTestPicture(64, 40, 13).pixels) + rawBytes(rawTestPicture(64, 40, 14).pixels));
    struct Case {
        std::vector<std::string> size;
        std::int32_t width;
        std::int32_t height;
    };
    const Case cases[] = {
        {{"--width", "200"}, 200, 125}, {{"--height", "99"}, 158, 99}, {{"--width", "90", "--height", "300"}, 90, 300}};
    for (const Case& c : cases) {
        std::vector<std::string> picture = c.size;
        picture.insert(picture.end(), {path("in.jpg").string(), path("out.png").string()});
        run(picture);
        const Samples out = readPicture(path("out.png"));
        EXPECT_EQ(out.width, c.width) << c.size[1];
        EXPECT_EQ(out.height, c.height) << c.size[1];

        std::vector<std::string> raw = c.size;
        raw.insert(raw.end(), {"--size", "64x40", path("in.raw").string(), path("out.raw").string()});
        run(raw);
        EXPECT_EQ(readFile(path("out.raw")).size(), 2u * 4 * c.width * c.height) << c.size[1];
    }
}

TEST_F(ScaleTest, WrongSizesAreRefusedWithBothSizes) {
    writePicture(path("in.png").string(), makeSamples(64, 40, 3, 8, 15));
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    };
    const Case cases[] = {
        {{"--width", "63"}, "the target 63x39 is smaller than "},
        {{"--height", "641"}, "the target 1026x641 is more than 16 times "},
        {{"--scale", "3"}, "--scale '3' is not 2, 4 or 8"},
        {{"--scale", "4", "--width", "300"}, "--scale and --width or --height both say how large"},
        {{"--width", "0"}, "--width '0' is not a whole number"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {path("in.png").string(), path("out.png").string()});
        const CommandResult result = runCrestdoubler(arguments);
        EXPECT_EQ(result.exitCode, 2) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(path("out.png"))) << c.message;
    }
}

// A pass that fails names the cause, not the passes that only saw it stop.
TEST_F(ScaleTest, AFailedPassIsReportedAsItself) {
    writePicture(path("in.png").string(), makeSamples(64, 40, 3, 8, 16));
    const CommandResult result =
        runCrestdoubler({"--module", FAKE_MODULE_RUN_FAILS, "--scale", "8", path("in.png"), path("out.png")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("module failed to enlarge frame 1"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("pass"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(path("out.png")));
}

#if defined(FFMPEG_PROGRAM)
// A film at 4x: every frame the raw route's 4x, every timestamp the source's.
TEST_F(ScaleTest, FilmsAtFourTimesKeepTheirFramesAndTimestamps) {
    const CommandResult made = runProgram({FFMPEG_PROGRAM, "-v", "error", "-y", "-f", "lavfi", "-i",
                                           "testsrc2=size=24x16:rate=10:duration=1", "-c:v", "ffv1", "-pix_fmt", "bgr0",
                                           path("in.mkv").string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    run({"--scale", "4", "--codec", "ffv1", path("in.mkv"), path("out.mkv")});
    run({"--codec", "ffv1", path("in.mkv"), path("x2.mkv")});
    auto timestamps = [](const fs::path& file) {
        return runProgram({FFPROBE_PROGRAM, "-v", "error", "-select_streams", "v", "-show_entries",
                           "packet=pts_time,duration_time", "-of", "csv", file.string()})
            .out;
    };
    EXPECT_EQ(timestamps(path("out.mkv")), timestamps(path("x2.mkv")));
    // Colour only: the raw route's fourth byte is the tag, a film's none.
    auto colour = [](std::string words) {
        for (std::size_t i = 3; i < words.size(); i += 4) words[i] = 0;
        return words;
    };
    auto frames = [&](const fs::path& file) {
        return colour(runProgram({FFMPEG_PROGRAM, "-v", "error", "-i", file.string(), "-f", "rawvideo", "-pix_fmt",
                                  "bgra", "-"})
                          .out);
    };
    const std::string source = frames(path("in.mkv"));
    ASSERT_EQ(source.size(), 10u * 24 * 16 * 4);
    writeFile(path("in.raw"), source);
    run({"--scale", "4", "--size", "24x16", path("in.raw"), path("x4.raw")});
    EXPECT_TRUE(frames(path("out.mkv")) == colour(readFile(path("x4.raw"))));
}
#endif

}  // namespace
}  // namespace crest::clitest

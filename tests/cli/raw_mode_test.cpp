// Raw frame streams through the built command, from files and through pipes.
#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

struct StreamCase {
    std::int32_t width;
    std::int32_t height;
    int frames;
};

std::string sizeArgument(const StreamCase& c) { return std::to_string(c.width) + "x" + std::to_string(c.height); }

void PrintTo(const StreamCase& c, std::ostream* os) { *os << sizeArgument(c) << ", " << c.frames << " frames"; }

std::string streamName(const ::testing::TestParamInfo<StreamCase>& info) {
    return sizeArgument(info.param) + "_" + std::to_string(info.param.frames) + "frames";
}

class RawStreamTest : public CommandTest, public ::testing::WithParamInterface<StreamCase> {
protected:
    // Different content in every frame, top bytes scrambled.
    std::vector<pictures::Picture> writeStream(const std::string& name) {
        const StreamCase& c = GetParam();
        std::vector<pictures::Picture> frames;
        std::string bytes;
        for (int i = 0; i < c.frames; ++i) {
            frames.push_back(rawTestPicture(c.width, c.height, 100 + i));
            bytes += rawBytes(frames.back().pixels);
        }
        writeFile(path(name), bytes);
        return frames;
    }

    // Compares the output frame by frame with the engine run in-process on each frame alone.
    void expectEngineFrames(const std::string& output, const std::vector<pictures::Picture>& frames) {
        const std::size_t frameBytes = 16 * static_cast<std::size_t>(GetParam().width) * GetParam().height;
        ASSERT_EQ(output.size(), frames.size() * frameBytes);
        for (std::size_t i = 0; i < frames.size(); ++i)
            ASSERT_EQ(rawWords(output.substr(i * frameBytes, frameBytes)), engineEnlargement(frames[i]))
                << "frame " << i;
    }
};

TEST_P(RawStreamTest, FilesGiveTheEngineWordsTagsIncluded) {
    const std::vector<pictures::Picture> frames = writeStream("in.raw");
    const CommandResult result = runCrestdoubler({"--size", sizeArgument(GetParam()), path("in.raw"), path("out.raw")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    expectEngineFrames(readFile(path("out.raw")), frames);
}

TEST_P(RawStreamTest, StreamEqualsEachFrameEnlargedAlone) {
    const std::vector<pictures::Picture> frames = writeStream("in.raw");
    ASSERT_EQ(runCrestdoubler({"--size", sizeArgument(GetParam()), path("in.raw"), path("out.raw")}).exitCode, 0);
    std::string alone;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        writeFile(path("one.raw"), rawBytes(frames[i].pixels));
        const CommandResult result =
            runCrestdoubler({"--size=" + sizeArgument(GetParam()), path("one.raw"), path("one-out.raw")});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        alone += readFile(path("one-out.raw"));
    }
    EXPECT_EQ(readFile(path("out.raw")), alone);
}

TEST_P(RawStreamTest, PipesOnBothSides) {
    const std::vector<pictures::Picture> frames = writeStream("in.raw");
    const CommandResult result = runPipeline("cat '" + path("in.raw").string() + "' | CRESTDOUBLER --size " +
                                             sizeArgument(GetParam()) + " - - | cat > '" + path("out.raw").string() +
                                             "'");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectEngineFrames(readFile(path("out.raw")), frames);
}

TEST_P(RawStreamTest, StandardInputFromAFileAndOutputToAFile) {
    const std::vector<pictures::Picture> frames = writeStream("in.raw");
    const CommandResult result = runCrestdoubler({"--size", sizeArgument(GetParam()), "-", "-"}, path("in.raw"));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectEngineFrames(result.out, frames);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RawStreamTest,
                         ::testing::Values(StreamCase{1, 1, 3}, StreamCase{3, 5, 4}, StreamCase{17, 9, 3},
                                           StreamCase{64, 48, 5}, StreamCase{160, 90, 2}),
                         streamName);

class LongRawStreamTest : public CommandTest {};

// Many frames through a pipe that delivers them in small pieces.
TEST_F(LongRawStreamTest, ManyFramesInSmallPieces) {
    constexpr int kFrames = 40;
    std::string bytes;
    std::vector<pictures::Picture> frames;
    for (int i = 0; i < kFrames; ++i) {
        frames.push_back(rawTestPicture(20, 12, 500 + i));
        bytes += rawBytes(frames.back().pixels);
    }
    writeFile(path("in.raw"), bytes);
    const CommandResult result =
        runPipeline("dd if='" + path("in.raw").string() + "' bs=333 status=none | CRESTDOUBLER --size 20x12 - '" +
                    path("out.raw").string() + "'");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string output = readFile(path("out.raw"));
    const std::size_t frameBytes = 16 * 20 * 12;
    ASSERT_EQ(output.size(), kFrames * frameBytes);
    for (int i = 0; i < kFrames; ++i)
        ASSERT_EQ(rawWords(output.substr(i * frameBytes, frameBytes)), engineEnlargement(frames[i])) << "frame " << i;
}

}  // namespace
}  // namespace crest::clitest

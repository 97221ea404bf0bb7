// Raw streams enlarged by several filter instances at once (--threads), and the
// progress line: output in input order, byte for byte that of one instance.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

constexpr std::int32_t kWidth = 23;
constexpr std::int32_t kHeight = 17;
constexpr std::size_t kOutputFrameBytes = 16 * kWidth * kHeight;
const std::string kSize = "23x17";

struct ThreadCase {
    int threads;
    int frames;
};

void PrintTo(const ThreadCase& c, std::ostream* os) { *os << c.threads << " threads, " << c.frames << " frames"; }

// Different content in every frame, so a frame out of place shows.
std::vector<pictures::Picture> writeFrames(const std::filesystem::path& file, int count, std::uint64_t seed) {
    std::vector<pictures::Picture> frames;
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        frames.push_back(rawTestPicture(kWidth, kHeight, seed + i));
        bytes += rawBytes(frames.back().pixels);
    }
    writeFile(file, bytes);
    return frames;
}

void expectEngineFrames(const std::string& output, const std::vector<pictures::Picture>& frames) {
    ASSERT_EQ(output.size(), frames.size() * kOutputFrameBytes);
    for (std::size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(rawWords(output.substr(i * kOutputFrameBytes, kOutputFrameBytes)), engineEnlargement(frames[i]))
            << "frame " << i + 1;
}

std::string quoted(const std::filesystem::path& path) {
    std::string text = path.string();
    text.insert(text.begin(), '\'');
    text.push_back('\'');
    return text;
}

class ThreadedStreamTest : public CommandTest, public ::testing::WithParamInterface<ThreadCase> {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        frames_ = writeFrames(path("in.raw"), GetParam().frames, 300);
        const CommandResult single =
            runCrestdoubler({"--threads", "1", "--size", kSize, path("in.raw"), path("single.raw")});
        ASSERT_EQ(single.exitCode, 0) << single.err;
        single_ = readFile(path("single.raw"));
        expectEngineFrames(single_, frames_);
    }

    std::string threadsArgument() const { return std::to_string(GetParam().threads); }

    std::vector<pictures::Picture> frames_;
    std::string single_;
};

TEST_P(ThreadedStreamTest, FileToFileEqualsOneInstance) {
    const CommandResult result =
        runCrestdoubler({"--threads", threadsArgument(), "--size", kSize, path("in.raw"), path("out.raw")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(path("out.raw")), single_);
}

TEST_P(ThreadedStreamTest, PipesInSmallPiecesEqualOneInstance) {
    const CommandResult result =
        runPipeline("dd if=" + quoted(path("in.raw")) + " bs=333 status=none | CRESTDOUBLER --threads=" +
                    threadsArgument() + " --size " + kSize + " - - 2>" + quoted(path("err.txt")) + " | cat > " +
                    quoted(path("out.raw")));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(path("out.raw")), single_);
    EXPECT_EQ(readFile(path("err.txt")), "");
}

TEST_P(ThreadedStreamTest, StandardInputAndOutputEqualOneInstance) {
    const CommandResult result = runCrestdoubler({"--threads", threadsArgument(), "--size", kSize, "-", "-"},
                                                 path("in.raw"));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, single_);
}

TEST_P(ThreadedStreamTest, CompleteFramesBeforeAPartialOneAreAllWritten) {
    writeFile(path("cut.raw"), readFile(path("in.raw")) + std::string(4 * kWidth * kHeight - 3, '\x22'));
    const CommandResult result =
        runCrestdoubler({"--threads", threadsArgument(), "--size", kSize, path("cut.raw"), path("out.raw")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "crestdoubler: raw input " + path("cut.raw").string() + " ends in a partial frame: " +
                              std::to_string(4 * kWidth * kHeight - 3) + " of " +
                              std::to_string(4 * kWidth * kHeight) + " bytes after " +
                              std::to_string(GetParam().frames) + " complete frames of " + kSize +
                              " (is --size right?)\n");
    EXPECT_EQ(readFile(path("out.raw")), single_);
}

INSTANTIATE_TEST_SUITE_P(Counts, ThreadedStreamTest,
                         ::testing::Values(ThreadCase{1, 1}, ThreadCase{1, 4}, ThreadCase{2, 1}, ThreadCase{2, 2},
                                           ThreadCase{2, 7}, ThreadCase{3, 1}, ThreadCase{3, 2}, ThreadCase{3, 7},
                                           ThreadCase{3, 9}, ThreadCase{5, 3}, ThreadCase{5, 5}, ThreadCase{5, 12}),
                         [](const ::testing::TestParamInfo<ThreadCase>& info) {
                             return std::to_string(info.param.threads) + "threads_" +
                                    std::to_string(info.param.frames) + "frames";
                         });

// The scripted fake module copies each source pixel into a 2x2 block after a
// delay, or fails, as the top byte of a frame's first pixel says; it lets
// frames finish out of order on purpose.
constexpr std::uint8_t kFail = 0xFF;

class ScriptedStreamTest : public CommandTest {
protected:
    // Frame i gets the given delay (or kFail) and otherwise distinct pixels.
    std::vector<pictures::Picture> writeScript(const std::vector<std::uint8_t>& script) {
        std::vector<pictures::Picture> frames;
        std::string bytes;
        for (std::size_t i = 0; i < script.size(); ++i) {
            pictures::Picture frame = rawTestPicture(kWidth, kHeight, 700 + i);
            frame.pixels[0] = (frame.pixels[0] & 0x00FFFFFFu) | (std::uint32_t{script[i]} << 24);
            bytes += rawBytes(frame.pixels);
            frames.push_back(std::move(frame));
        }
        writeFile(path("in.raw"), bytes);
        return frames;
    }

    static std::string copied(const std::vector<pictures::Picture>& frames) {
        std::string bytes;
        for (const pictures::Picture& frame : frames) {
            std::vector<std::uint32_t> words(4 * frame.pixels.size());
            for (std::int32_t y = 0; y < 2 * kHeight; ++y)
                for (std::int32_t x = 0; x < 2 * kWidth; ++x)
                    words[static_cast<std::size_t>(y) * 2 * kWidth + x] = frame.at(x / 2, y / 2);
            bytes += rawBytes(words);
        }
        return bytes;
    }

    CommandResult run(int threads, const std::string& output = "") {
        return runCrestdoubler({"--module", FAKE_MODULE_SCRIPTED, "--threads", std::to_string(threads), "--size",
                                kSize, path("in.raw"), output.empty() ? path("out.raw").string() : output});
    }
};

TEST_F(ScriptedStreamTest, LaterFramesFinishingFirstAreWrittenInInputOrder) {
    const auto frames = writeScript({90, 60, 30, 0, 0, 45, 0, 20, 0, 0, 0});
    const CommandResult result = run(4);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(path("out.raw")), copied(frames));
}

TEST_F(ScriptedStreamTest, AFailedFrameKeepsEveryEarlierFrameAndNamesTheEarliestFailure) {
    // Frames 3 and 4 fail at once, long before frames 1 and 2 are done.
    const auto frames = writeScript({80, 60, kFail, kFail, 0, 0});
    const CommandResult result = run(3);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "crestdoubler: module failed to enlarge frame 3 (23x17, result 3)\n");
    EXPECT_EQ(readFile(path("out.raw")), copied({frames[0], frames[1]}));
}

TEST_F(ScriptedStreamTest, AFailedFirstFrameLeavesNoOutputFile) {
    writeScript({kFail, 0, 0, 0, 0});
    const CommandResult result = run(5);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "crestdoubler: module failed to enlarge frame 1 (23x17, result 3)\n");
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"in.raw"});
}

TEST_F(ScriptedStreamTest, APartialFrameReadLongBeforeTheLastFramesAreDone) {
    const auto frames = writeScript({40, 40, 40, 40, 40});
    writeFile(path("in.raw"), readFile(path("in.raw")) + "abc");
    const CommandResult result = run(2);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("partial frame: 3 of 1564 bytes after 5 complete frames"), std::string::npos)
        << result.err;
    EXPECT_EQ(readFile(path("out.raw")), copied(frames));
}

TEST_F(ScriptedStreamTest, AReaderLeavingStopsEveryThread) {
    writeScript(std::vector<std::uint8_t>(30, 5));
    const CommandResult result = runPipeline(
        "{ status=0; CRESTDOUBLER --module " + std::string(FAKE_MODULE_SCRIPTED) + " --threads 3 --size " + kSize +
        " " + quoted(path("in.raw")) + " - 2>" + quoted(path("err")) + " || status=$?; echo $status > " +
        quoted(path("status")) + "; } | head -c 100 > /dev/null");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(path("status")), "1\n");
    EXPECT_NE(readFile(path("err")).find("cannot write raw output standard output"), std::string::npos)
        << readFile(path("err"));
}

TEST_F(ScriptedStreamTest, PngOutputStillRefusesASecondFrame) {
    writeScript({0, 0, 0});
    const CommandResult result = run(3, path("out.png").string());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("holds one frame"), std::string::npos) << result.err;
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"in.raw"});
}

struct BadThreads {
    const char* name;
    std::vector<std::string> arguments;
};

void PrintTo(const BadThreads& c, std::ostream* os) { *os << c.name; }

class ThreadsOptionTest : public CommandTest, public ::testing::WithParamInterface<BadThreads> {};

TEST_P(ThreadsOptionTest, IsAUsageErrorNamingTheOption) {
    writeFrames(path("in.raw"), 2, 1);
    std::vector<std::string> arguments = GetParam().arguments;
    for (const std::string& tail : {std::string("--size"), kSize, path("in.raw").string(), path("out.raw").string()})
        arguments.push_back(tail);
    const CommandResult result = runCrestdoubler(arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("crestdoubler: --threads", 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"in.raw"});
}

INSTANTIATE_TEST_SUITE_P(
    Values, ThreadsOptionTest,
    ::testing::Values(BadThreads{"Zero", {"--threads", "0"}}, BadThreads{"Negative", {"--threads=-2"}},
                      BadThreads{"Word", {"--threads", "two"}}, BadThreads{"Fraction", {"--threads", "1.5"}},
                      BadThreads{"Empty", {"--threads="}}, BadThreads{"LeadingSpace", {"--threads", " 2"}},
                      BadThreads{"Plus", {"--threads", "+2"}}, BadThreads{"OverTheLimit", {"--threads", "65"}},
                      BadThreads{"Huge", {"--threads", "99999999999999999999999"}},
                      BadThreads{"WithoutValue", {"--size", kSize, "in", "out", "--threads"}}),
    [](const ::testing::TestParamInfo<BadThreads>& info) { return info.param.name; });

class ThreadsLimitTest : public CommandTest {};

TEST_F(ThreadsLimitTest, SixtyFourIsAccepted) {
    const auto frames = writeFrames(path("in.raw"), 3, 40);
    const CommandResult result = runCrestdoubler({"--threads=64", "--size", kSize, path("in.raw"), path("out.raw")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    expectEngineFrames(readFile(path("out.raw")), frames);
}

TEST_F(ThreadsLimitTest, HelpNamesTheLimitAndTheDefault) {
    const CommandResult result = runCrestdoubler({"--help"});
    ASSERT_EQ(result.exitCode, 0);
    const std::string cores = std::to_string(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
    EXPECT_NE(result.out.find("--threads N"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 to 64"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("here " + cores + ")"), std::string::npos) << result.out;
}

// Runs the command with stderr on a pseudo-terminal; returns what the terminal showed.
CommandResult runOnTerminal(const std::vector<std::string>& arguments) {
    CommandResult result;
    int terminal = -1;
    int follower = -1;
    if (openpty(&terminal, &follower, nullptr, nullptr, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed";
        return result;
    }
    const pid_t child = fork();
    if (child == 0) {
        const int nothing = open("/dev/null", O_RDWR);
        dup2(nothing, 0);
        dup2(nothing, 1);
        dup2(follower, 2);
        close(terminal);
        close(follower);
        std::vector<std::string> argv{CRESTDOUBLER_EXE};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv) pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(follower);
    // Reading until the last writer has gone; Linux then reports EIO.
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got > 0) {
            result.err.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    close(terminal);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

class ProgressTest : public ScriptedStreamTest {};

TEST_F(ProgressTest, ATerminalSeesFramesAndRateOnOneLine) {
    // About 0.7 s of work, so the line is redrawn along the way.
    const auto frames = writeScript(std::vector<std::uint8_t>(14, 100));
    const CommandResult result = runOnTerminal({"--module", FAKE_MODULE_SCRIPTED, "--threads", "2", "--size", kSize,
                                                path("in.raw").string(), path("out.raw").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(path("out.raw")), copied(frames));
    EXPECT_EQ(result.err.rfind("\rcrestdoubler: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("\rcrestdoubler: 14 frames, "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" frames/s"), std::string::npos) << result.err;
    // Redrawn in place before the final count; the terminal turns the last \n into \r\n.
    EXPECT_LT(result.err.find("\rcrestdoubler: "), result.err.find("\rcrestdoubler: 14 frames")) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_EQ(result.err.substr(result.err.size() - 2), "\r\n") << result.err;
}

TEST_F(ProgressTest, AnErrorStartsALineOfItsOwn) {
    writeScript({100, 100, 100, 100, kFail});
    const CommandResult result = runOnTerminal({"--module", FAKE_MODULE_SCRIPTED, "--threads", "1", "--size", kSize,
                                                path("in.raw").string(), path("out.raw").string()});
    EXPECT_EQ(result.exitCode, 1);
    const std::string message = "crestdoubler: module failed to enlarge frame 5 (23x17, result 3)\r\n";
    ASSERT_GT(result.err.size(), message.size()) << result.err;
    EXPECT_EQ(result.err.substr(result.err.size() - message.size()), message) << result.err;
    const std::size_t at = result.err.size() - message.size();
    // 0.4 s of frames before the failure: the line was shown, then ended.
    EXPECT_EQ(result.err.rfind("\rcrestdoubler: ", 0), 0u) << result.err;
    EXPECT_EQ(result.err[at - 1], '\n') << result.err;
}

// A person at a terminal is told what a picture run wrote; a folder run says what it did.
TEST_F(CommandTest, ATerminalIsToldWhatWasWritten) {
    writePicture(path("in.png").string(), makeSamples(21, 13, 3, 8, 3));
    const CommandResult single = runOnTerminal({path("in.png").string(), path("out.png").string()});
    ASSERT_EQ(single.exitCode, 0) << single.err;
    const std::string start = "crestdoubler: wrote " + path("out.png").string() + ", 42\xc3\x97" "26, in ";
    EXPECT_EQ(single.err.rfind(start, 0), 0u) << single.err;
    EXPECT_EQ(single.err.substr(single.err.size() - 4), " s\r\n") << single.err;

    std::filesystem::create_directory(path("pictures"));
    writePicture(path("pictures/a.png").string(), makeSamples(9, 7, 3, 8, 4));
    const CommandResult folder = runOnTerminal({"-o", path("out").string(), path("pictures").string()});
    ASSERT_EQ(folder.exitCode, 0) << folder.err;
    const std::string summary = "crestdoubler: 1 picture enlarged, 0 skipped, 0 failed\r\n";
    ASSERT_GE(folder.err.size(), summary.size()) << folder.err;
    EXPECT_EQ(folder.err.substr(folder.err.size() - summary.size()), summary) << folder.err;
    EXPECT_NE(folder.err.find("\rcrestdoubler: 1/1 pictures, "), std::string::npos) << folder.err;
}

TEST_F(ProgressTest, APipeSeesNothing) {
    writeScript(std::vector<std::uint8_t>(6, 60));
    const CommandResult result = runPipeline("CRESTDOUBLER --module " + std::string(FAKE_MODULE_SCRIPTED) +
                                             " --threads 2 --size " + kSize + " " + quoted(path("in.raw")) + " " +
                                             quoted(path("out.raw")) + " 2>&1 | cat > " + quoted(path("err")));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(path("err")), "");
    EXPECT_EQ(readFile(path("out.raw")).size(), 6 * kOutputFrameBytes);
}

}  // namespace
}  // namespace crest::clitest

// Films stopped at any moment, by SIGKILL, SIGINT or a damaged work folder,
// finish as if they never were: the same packets of every stream, chapters,
// metadata and timestamps as an uninterrupted run's.
#include <algorithm>
#include <csignal>
#include <random>
#include <thread>

#include <sys/wait.h>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

namespace fs = std::filesystem;

// 50 frames in pieces of 8: 7 pieces, the last of 2 frames.
const std::vector<std::string> kPieces = {"--piece-frames", "8", "--threads", "2"};

CommandResult run(const std::vector<std::string>& words) {
    const CommandResult result = runProgram(words);
    return result;
}

// Every stream's packets as stored (timestamps, sizes, hashes), the frame
// times, chapters and metadata.
std::string summary(const fs::path& file) {
    std::string text;
    for (const char* stream : {"v", "a", "s"})
        text += run({FFMPEG_PROGRAM, "-v", "error", "-copyts", "-i", file.string(), "-map", std::string("0:") + stream,
                     "-c", "copy", "-f", "framemd5", "-"})
                    .out;
    text += run({FFPROBE_PROGRAM, "-v", "error", "-show_entries",
                 "chapter=start_time,end_time:chapter_tags=title:format_tags=title:stream=codec_name,time_base,width",
                 "-of", "default=nw=1", file.string()})
                .out;
    return text;
}

class FilmResumeTest : public CommandTest {
protected:
    // x264Params: the source's encoding, such as open GOPs, whose pictures
    // after a key frame may refer to those before it.
    void makeClip(const fs::path& file, const char* hue, const std::string& x264Params = "bframes=3") {
        writeFile(path("s.srt"), "1\n00:00:00,200 --> 00:00:01,000\nOne\n\n2\n00:00:01,200 --> 00:00:01,800\nTwo\n");
        writeFile(path("ch.txt"), ";FFMETADATA1\ntitle=Clip\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=900\ntitle=One\n"
                                  "[CHAPTER]\nTIMEBASE=1/1000\nSTART=900\nEND=2000\ntitle=Two\n");
        const CommandResult made = run({FFMPEG_PROGRAM,
                                        "-v",
                                        "error",
                                        "-y",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "testsrc2=size=64x48:rate=25:duration=2",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "sine=duration=2",
                                        "-i",
                                        path("s.srt").string(),
                                        "-i",
                                        path("ch.txt").string(),
                                        "-map",
                                        "0",
                                        "-map",
                                        "1",
                                        "-map",
                                        "2",
                                        "-map_metadata",
                                        "3",
                                        "-map_chapters",
                                        "3",
                                        "-vf",
                                        std::string("hue=h=") + hue,
                                        "-c:v",
                                        "libx264",
                                        "-g",
                                        "12",
                                        "-x264-params",
                                        x264Params,
                                        "-pix_fmt",
                                        "yuv420p",
                                        "-c:a",
                                        "flac",
                                        "-c:s",
                                        "srt",
                                        file.string()});
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    // Each run with the heap filled otherwise: the encoder's output must not depend on it.
    std::vector<std::string> command(const std::vector<std::string>& codec, const std::string& killAt = "") {
        std::vector<std::string> words = {"/usr/bin/env", "MALLOC_PERTURB_=" + std::to_string(++runs_ % 200 + 1)};
        if (!killAt.empty()) words.push_back("CRESTDOUBLER_KILL_AT=" + killAt);
        words.push_back(CRESTDOUBLER_EXE);
        words.insert(words.end(), kPieces.begin(), kPieces.end());
        words.insert(words.end(), codec.begin(), codec.end());
        words.push_back(path("in.mkv").string());
        words.push_back(path("out.mkv").string());
        return words;
    }

    // The uninterrupted run's summary; out.mkv is removed again.
    std::string reference(const std::vector<std::string>& codec) {
        const CommandResult whole = run(command(codec));
        EXPECT_EQ(whole.exitCode, 0) << whole.err;
        EXPECT_EQ(whole.err, "");
        EXPECT_FALSE(fs::exists(workFolder()));
        const std::string text = summary(path("out.mkv"));
        fs::remove(path("out.mkv"));
        return text;
    }

    fs::path workFolder() const { return path(".out.mkv.parts"); }

    int runs_ = 0;
};

struct Interruption {
    const char* name;
    std::vector<std::string> codec;
    std::vector<std::string> killPoints;  // one stopped run each, in turn
    int randomKills;                      // then this many at seeded random places and times
    std::string sourceParams = "bframes=3";
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class InterruptedFilmTest : public FilmResumeTest, public ::testing::WithParamInterface<Interruption> {};

TEST_P(InterruptedFilmTest, EndsAsAnUninterruptedRun) {
    const Interruption& c = GetParam();
    makeClip(path("in.mkv"), "0", c.sourceParams);
    const auto started = std::chrono::steady_clock::now();
    const std::string whole = reference(c.codec);
    const auto runTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);

    for (const std::string& point : c.killPoints) {
        const CommandResult stopped = run(command(c.codec, point));
        EXPECT_EQ(stopped.exitCode, 128 + SIGKILL) << point << stopped.err;
        EXPECT_FALSE(fs::exists(path("out.mkv"))) << point;
    }
    // Each at a random place (after a piece is flushed, or in the join),
    // then one at a random time; a run may also finish first.
    std::mt19937 random(20261209);
    for (int i = 0; i < c.randomKills && !fs::exists(path("out.mkv")); ++i) {
        const std::string point = random() % 3 == 0 ? "join-packet:" + std::to_string(1 + random() % 150)
                                                     : "piece-flushed:" + std::to_string(random() % 7);
        const int status = run(command(c.codec, point)).exitCode;
        EXPECT_TRUE(status == 128 + SIGKILL || status == 0) << point;
    }
    if (c.randomKills > 0 && !fs::exists(path("out.mkv"))) {
        const int pid = startProgram(command(c.codec));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % runTime.count()));
        kill(pid, SIGKILL);
        waitForProgram(pid);
    }
    // The output of the run that finished is the one to check, not a new one's.
    const CommandResult resumed = fs::exists(path("out.mkv")) ? CommandResult{0, "", ""} : run(command(c.codec));
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    if (!c.killPoints.empty()) {
        EXPECT_NE(resumed.err.find("crestdoubler: resuming out.mkv: "), std::string::npos) << resumed.err;
    }
    EXPECT_FALSE(fs::exists(workFolder()));
    EXPECT_EQ(summary(path("out.mkv")), whole);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"ch.txt", "in.mkv", "out.mkv", "s.srt"}));
}

const std::vector<std::string> kFfv1 = {"--codec", "ffv1"};
// libx264 at the command's CRF and preset, with a fixed thread count, is
// the same bits for the same frames only without MB-tree: with it (and
// B-frames) its output depends on what the heap held, which the varying
// MALLOC_PERTURB_ of these runs would show.
const std::vector<std::string> kX264 = {"--encoder-option", "mbtree=0"};

INSTANTIATE_TEST_SUITE_P(
    Films, InterruptedFilmTest,
    ::testing::Values(
        Interruption{"ffv1_flushed_not_journaled", kFfv1, {"piece-flushed:2"}, 0},
        Interruption{"ffv1_during_the_join", kFfv1, {"join-packet:40"}, 0},
        Interruption{"x264_at_every_kind_of_moment", kX264, {"piece-flushed:0", "piece-flushed:3", "join-packet:1"}, 0},
        Interruption{"ffv1_random_kills", kFfv1, {}, 5}, Interruption{"x264_random_kills", kX264, {}, 5},
        // Pieces start between the source's key frames, where open GOPs lead with pictures that cannot be shown.
        Interruption{
            "open_gop_source", kFfv1, {"piece-flushed:1", "piece-flushed:3"}, 0, "bframes=3:open-gop=1:keyint=10"}),
    [](const auto& info) { return std::string(info.param.name); });

// What a run does with a work folder that is not as the journal says.
struct Damage {
    const char* name;
    void (*damage)(const fs::path& folder, const fs::path& input, FilmResumeTest& test);
    std::string message;  // on the run after
};

void PrintTo(const Damage& c, std::ostream* os) { *os << c.name; }

void truncatePiece(const fs::path& folder, const fs::path&, FilmResumeTest&) {
    fs::resize_file(folder / "piece-000001.nut", fs::file_size(folder / "piece-000001.nut") / 2);
}
void scrambleEntry(const fs::path& folder, const fs::path&, FilmResumeTest&) {
    std::string line = readFile(folder / "piece-000002.entry");
    line[line.find("frames ") + 7] = 'x';
    writeFile(folder / "piece-000002.entry", line);
}
void strayTemporary(const fs::path& folder, const fs::path&, FilmResumeTest&) {
    writeFile(folder / ".piece-000003.part-1-0.nut", "half a piece");
    writeFile(folder / ".piece-000003.part-1-0.entry", "piece 3 fra");
}
void changeInput(const fs::path&, const fs::path& input, FilmResumeTest&) {
    // Made again with other colours: the same size of film, other pictures.
    fs::rename(input.parent_path() / "other.mkv", input);
}

class DamagedFilmTest : public FilmResumeTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedFilmTest, DamagedPiecesAreMadeAgain) {
    const Damage& c = GetParam();
    const bool newInput = c.damage == changeInput;
    makeClip(path("in.mkv"), newInput ? "90" : "0");
    const std::string whole = reference(kFfv1);
    if (newInput) {
        fs::rename(path("in.mkv"), path("other.mkv"));
        makeClip(path("in.mkv"), "0");
    }
    ASSERT_EQ(run(command(kFfv1, "piece-flushed:5")).exitCode, 128 + SIGKILL);
    c.damage(workFolder(), path("in.mkv"), *this);
    const CommandResult resumed = run(command(kFfv1));
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_NE(resumed.err.find(c.message), std::string::npos) << resumed.err;
    EXPECT_EQ(summary(path("out.mkv")), whole);
    EXPECT_FALSE(fs::exists(workFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Films, DamagedFilmTest,
    ::testing::Values(
        Damage{"truncated_piece", truncatePiece, "piece 1 is made again: the piece's size or hash differs"},
        Damage{"damaged_journal_line", scrambleEntry, "piece 2 is made again: its journal entry is damaged"},
        Damage{"stray_temporaries", strayTemporary, "resuming out.mkv: 5 of 7 pieces done"},
        Damage{"changed_input", changeInput, "starting out.mkv again from the first piece: the input has changed"}),
    [](const auto& info) { return std::string(info.param.name); });

// SIGINT leaves OUTPUT as it was and keeps the pieces; the same command
// resumes; --restart throws them away.
TEST_F(FilmResumeTest, InterruptKeepsPiecesAndRestartDropsThem) {
    makeClip(path("in.mkv"), "0");
    const std::string whole = reference(kFfv1);
    writeFile(path("out.mkv"), "an older film");
    const CommandResult interrupted = run(command(kFfv1, "piece-flushed:4:" + std::to_string(SIGINT)));
    EXPECT_EQ(interrupted.exitCode, 128 + SIGINT);
    EXPECT_NE(interrupted.err.find("is as it was; the finished pieces are kept in " + workFolder().string() +
                                   " and the same command resumes"),
              std::string::npos)
        << interrupted.err;
    EXPECT_EQ(readFile(path("out.mkv")), "an older film");
    EXPECT_TRUE(fs::exists(workFolder() / "piece-000003.entry"));

    std::vector<std::string> restart = command(kFfv1);
    restart.insert(std::find(restart.begin(), restart.end(), CRESTDOUBLER_EXE) + 1, "--restart");
    const CommandResult again = run(restart);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(summary(path("out.mkv")), whole);

    writeFile(path("out.mkv"), "an older film");
    ASSERT_EQ(run(command(kFfv1, "piece-flushed:4:" + std::to_string(SIGTERM))).exitCode, 128 + SIGTERM);
    const CommandResult resumed = run(command(kFfv1));
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(resumed.err, "crestdoubler: resuming out.mkv: 4 of 7 pieces done\n");
    EXPECT_EQ(summary(path("out.mkv")), whole);
}

}  // namespace
}  // namespace crest::clitest

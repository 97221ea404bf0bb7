// Films in and out, on clips the ffmpeg program makes from its lavfi test
// sources: the pictures are the module's, everything else is the source's.
#include <algorithm>
#include <map>
#include <utility>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kPicture = {"-f", "lavfi", "-i", "testsrc=size=48x32:rate=25:duration=1.2"};
const std::vector<std::string> kTone = {"-f", "lavfi", "-i", "sine=frequency=440:duration=1.2"};
constexpr std::size_t kSourceFrameBytes = 4 * 48 * 32;

std::vector<std::string> joined(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

void makeClip(const fs::path& file, const std::vector<std::string>& arguments) {
    const CommandResult made = runProgram(joined({{FFMPEG_PROGRAM, "-v", "error", "-y"}, arguments, {file.string()}}));
    ASSERT_EQ(made.exitCode, 0) << made.err;
}

// Frames as the module takes and gives them, with the fourth byte of each
// pixel cleared: the module's tag there is not part of the colour.
std::string colourBytes(std::string raw) {
    for (std::size_t i = 3; i < raw.size(); i += 4) raw[i] = 0;
    return raw;
}
std::string decodedFrames(const fs::path& file) {
    const CommandResult decoded = runProgram({FFMPEG_PROGRAM, "-v", "error", "-i", file.string(), "-map", "0:v:0",
                                              "-vsync", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "-"});
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
    return colourBytes(decoded.out);
}

std::string probe(const fs::path& file, const std::string& streams, const std::string& entries) {
    const CommandResult probed = runProgram({FFPROBE_PROGRAM, "-v", "error", "-select_streams", streams,
                                             "-show_entries", entries, "-of", "default=nw=1", file.string()});
    EXPECT_EQ(probed.exitCode, 0) << probed.err;
    return probed.out;
}

std::string audioHash(const fs::path& file) {
    return runProgram(
               {FFMPEG_PROGRAM, "-v", "error", "-i", file.string(), "-map", "0:a", "-c", "copy", "-f", "hash", "-"})
        .out;
}

class FilmTest : public CommandTest {
protected:
    // The module's own enlargement of source frames [first, first + count),
    // through the raw route.
    std::string moduleFrames(const fs::path& source, std::size_t first, std::size_t count) {
        const std::string all = decodedFrames(source);
        writeFile(path("piece.raw"), all.substr(first * kSourceFrameBytes, count * kSourceFrameBytes));
        const CommandResult result = runCrestdoubler({"--size", "48x32", path("piece.raw"), path("piece-2x.raw")});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return colourBytes(readFile(path("piece-2x.raw")));
    }
};

struct LosslessCase {
    const char* name;
    const char* container;
    std::vector<std::string> sourceCodec;  // ffmpeg's options for the source clip
    std::vector<std::string> options;      // crestdoubler's
    std::size_t firstFrame;                // of the source, per --start
    std::size_t frames;
};

void PrintTo(const LosslessCase& c, std::ostream* os) { *os << c.name; }

class LosslessFilmTest : public FilmTest, public ::testing::WithParamInterface<LosslessCase> {};

// The pictures of a lossless output are the module's, word for word in the
// colour bytes; the sound is the source's packets; so are the timestamps.
TEST_P(LosslessFilmTest, PicturesAreTheModulesAndTheRestIsKept) {
    const LosslessCase& c = GetParam();
    const fs::path source = path(std::string("in.") + c.container);
    const fs::path output = path(std::string("out.") + c.container);
    makeClip(source, joined({kPicture, kTone, c.sourceCodec, {"-c:a", "aac", "-shortest"}}));
    const CommandResult result = runCrestdoubler(joined({c.options, {source.string(), output.string()}}));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");

    const std::string enlarged = decodedFrames(output);
    EXPECT_EQ(enlarged.size(), 4 * c.frames * kSourceFrameBytes);
    EXPECT_TRUE(enlarged == moduleFrames(source, c.firstFrame, c.frames));
    EXPECT_EQ(probe(output, "v", "stream=width,height"), "width=96\nheight=64\n");
    if (c.firstFrame == 0 && c.frames == 30) {
        EXPECT_EQ(audioHash(output), audioHash(source));
        EXPECT_EQ(probe(output, "v", "frame=pts_time"), probe(source, "v", "frame=pts_time"));
    }
}

const std::vector<std::string> kFfv1 = {"-c:v", "ffv1", "-pix_fmt", "bgr0"};
const std::vector<std::string> kX264Rgb = {"-c:v", "libx264rgb", "-qp", "0", "-pix_fmt", "bgr0"};

INSTANTIATE_TEST_SUITE_P(
    Films, LosslessFilmTest,
    ::testing::Values(
        LosslessCase{"ffv1_mkv", "mkv", kFfv1, {"--codec", "ffv1"}, 0, 30},
        LosslessCase{"ffv1_mkv_three_threads", "mkv", kFfv1, {"--codec", "ffv1", "--threads", "3"}, 0, 30},
        LosslessCase{"x264rgb_mp4", "mp4", kX264Rgb, {"--codec", "libx264rgb", "--crf", "0"}, 0, 30},
        LosslessCase{"piece", "mkv", kFfv1, {"--codec", "ffv1", "--start", "0.4", "--frames", "5"}, 10, 5}),
    [](const auto& info) { return std::string(info.param.name); });

struct CarriedCase {
    const char* container;
    const char* audioCodec;
    const char* videoCodec;  // the default encoder's
};

void PrintTo(const CarriedCase& c, std::ostream* os) { *os << c.container; }

class CarriedFilmTest : public FilmTest, public ::testing::WithParamInterface<CarriedCase> {};

// A variable frame rate, an aspect ratio, colour tags, metadata and chapters
// pass through the default encoding unchanged.
TEST_P(CarriedFilmTest, EverythingButTheSizeIsKept) {
    const CarriedCase& c = GetParam();
    const fs::path source = path(std::string("in.") + c.container);
    const fs::path output = path(std::string("out.") + c.container);
    writeFile(path("chapters.txt"), ";FFMETADATA1\ntitle=Clip\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\n"
                                    "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1200\ntitle=Two\n");
    makeClip(source, joined({kPicture,
                             kTone,
                             {"-i", path("chapters.txt").string(), "-map_metadata", "2", "-map_chapters", "2", "-map",
                              "0", "-map", "1", "-c:a", c.audioCodec,
                              // ten frames at the normal pace, then slower ones
                              "-vf", "setpts='if(lt(N,10),N,N*1.5-5)/25/TB',setsar=4/3", "-vsync", "vfr", "-pix_fmt",
                              "yuv420p", "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709",
                              "-metadata:s:a", "language=fre"}}));
    const CommandResult result = runCrestdoubler({source.string(), output.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    EXPECT_EQ(probe(output, "v", "stream=codec_name,pix_fmt"),
              std::string("codec_name=") + c.videoCodec + "\npix_fmt=yuv420p\n");
    for (const char* entries :
         {"frame=pts_time", "stream=sample_aspect_ratio,color_primaries,color_transfer,color_space,color_range",
          "format_tags=title", "chapter=start_time,end_time:chapter_tags=title"})
        EXPECT_EQ(probe(output, "v", entries), probe(source, "v", entries)) << entries;
    EXPECT_EQ(probe(output, "a", "stream_tags=language"), "TAG:language=fre\n");
    EXPECT_EQ(audioHash(output), audioHash(source));
}

INSTANTIATE_TEST_SUITE_P(Films, CarriedFilmTest,
                         ::testing::Values(CarriedCase{"mkv", "flac", "h264"}, CarriedCase{"mp4", "aac", "h264"},
                                           CarriedCase{"webm", "libopus", "vp9"}),
                         [](const auto& info) { return std::string(info.param.container); });

struct SegmentCase {
    const char* container;  // MPEG-TS has no reliable seeking: its frames are counted from the start
    std::vector<std::size_t> cuts;
};

void PrintTo(const SegmentCase& c, std::ostream* os) { *os << c.container; }

class SegmentFilmTest : public FilmTest, public ::testing::WithParamInterface<SegmentCase> {};

// Pieces cut anywhere, through key frames and B-frames of a variable frame
// rate, hold every frame of a whole run once, at its timestamp.
TEST_P(SegmentFilmTest, PiecesJoinIntoTheWhole) {
    const SegmentCase& c = GetParam();
    const fs::path source = path(std::string("in.") + c.container);
    makeClip(source, joined({kPicture, kTone, {"-vf", "setpts='if(lt(N,10),N,N*1.5-5)/25/TB'", "-vsync", "vfr",
                                               "-c:v", "libx264", "-g", "8", "-bf", "3", "-pix_fmt", "yuv420p"}}));
    const fs::path whole = path("whole.mkv");
    ASSERT_EQ(runCrestdoubler({"--codec", "ffv1", source.string(), whole.string()}).exitCode, 0);
    std::string frames;
    std::string times;
    for (std::size_t i = 0; i + 1 < c.cuts.size(); ++i) {
        const fs::path piece = path("piece" + std::to_string(i) + ".nut");
        const CommandResult result =
            runCrestdoubler({"--codec", "ffv1", "--video-only", "--first-frame", std::to_string(c.cuts[i]), "--frames",
                             std::to_string(c.cuts[i + 1] - c.cuts[i]), source.string(), piece.string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(probe(piece, "a", "stream=index"), "");
        frames += decodedFrames(piece);
        times += probe(piece, "v", "frame=pts_time");
    }
    EXPECT_EQ(times, probe(whole, "v", "frame=pts_time"));
    EXPECT_EQ(frames.size(), 30 * 4 * kSourceFrameBytes);
    EXPECT_TRUE(frames == decodedFrames(whole));
}

INSTANTIATE_TEST_SUITE_P(Films, SegmentFilmTest,
                         ::testing::Values(SegmentCase{"mkv", {0, 7, 19, 30}}, SegmentCase{"ts", {0, 11, 12, 30}}),
                         [](const auto& info) { return std::string(info.param.container); });

// Transport streams joined from pieces whose program tables differ: the
// audio of the middle piece is announced late (after the header, or only in
// the tail the duration probe reads). The video is enlarged whole, the
// audio is named and left out.
struct LateStreamCase {
    const char* name;
    std::vector<const char*> pieces;
    int frames;
    const char* message;
};

void PrintTo(const LateStreamCase& c, std::ostream* os) { *os << c.name; }

class LateStreamTest : public FilmTest, public ::testing::WithParamInterface<LateStreamCase> {};

TEST_P(LateStreamTest, VideoKeptLateAudioNamed) {
    const std::map<std::string, std::vector<std::string>> pieces = {
        {"first", {"-f", "lavfi", "-i", "testsrc=size=48x32:rate=10:duration=10"}},
        {"audio", {"-f", "lavfi", "-i", "testsrc=size=48x32:rate=10:duration=1", "-f", "lavfi", "-i",
                   "sine=duration=1", "-c:a", "mp2", "-output_ts_offset", "10.1"}},
        // Padded, so that the duration probe's look at the tail ends before the audio.
        {"padded", {"-f", "lavfi", "-i", "testsrc=size=48x32:rate=10:duration=3", "-muxrate", "4M",
                    "-output_ts_offset", "11.2"}}};
    std::string joinedBytes;
    for (const char* piece : GetParam().pieces) {
        makeClip(path(std::string(piece) + ".ts"), joined({pieces.at(piece), {"-c:v", "mpeg2video", "-f", "mpegts"}}));
        joinedBytes += readFile(path(std::string(piece) + ".ts"));
    }
    writeFile(path("in.ts"), joinedBytes);
    const CommandResult result = runCrestdoubler({path("in.ts"), path("out.ts")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
    // Every frame of the three pieces (100 + 10 + 30, or 100 + 10), and no audio.
    const std::string written = runProgram({FFPROBE_PROGRAM, "-v", "error", "-count_frames", "-show_entries",
                                            "stream=codec_type,nb_read_frames", "-of", "csv=p=0", path("out.ts")})
                                    .out;
    EXPECT_NE(written.find("video," + std::to_string(GetParam().frames) + "\n"), std::string::npos) << written;
    EXPECT_EQ(written.find("audio"), std::string::npos) << written;
}

INSTANTIATE_TEST_SUITE_P(
    Films, LateStreamTest,
    ::testing::Values(
        LateStreamCase{"after_header", {"first", "audio", "padded"}, 140, "stream 1 (audio) begins after the header"},
        LateStreamCase{"in_tail_only", {"first", "audio"}, 110, "stream 1 (audio) has no data near the start"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    std::vector<std::string> sourceArguments;  // ffmpeg's, for in.mkv; empty: none
    std::string (*damage)(std::string bytes);  // what becomes of in.mkv
    std::string run;                           // a shell line; IN and OUT name the files
    int exitCode;
    std::string message;
    std::vector<std::string> kept = {};  // entries the run leaves besides the input
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

std::string asItIs(std::string bytes) { return bytes; }
std::string notAFilm(std::string) { return "plain text, not a film\n"; }
std::string firstHalf(std::string bytes) { return bytes.substr(0, bytes.size() / 2); }
std::string scrambledMiddle(std::string bytes) {
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 300; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x55);
    return bytes;
}

class FilmFailureTest : public FilmTest, public ::testing::WithParamInterface<FailureCase> {};

// One line naming the file and the problem, the usual status, nothing left behind.
TEST_P(FilmFailureTest, FailsCleanly) {
    const FailureCase& c = GetParam();
    const fs::path source = path("in.mkv");
    if (!c.sourceArguments.empty()) {
        makeClip(source, c.sourceArguments);
        writeFile(source, c.damage(readFile(source)));
    }
    const std::vector<std::string> before = folderEntries();
    std::string script = c.run;
    for (const auto& [word, file] : {std::pair<std::string, std::string>{"IN", source}, {"OUT", path("out")}})
        for (auto at = script.find(word); at != std::string::npos; at = script.find(word, at + file.size()))
            script.replace(at, word.size(), file);
    const CommandResult result = runPipeline("set +e; " + script + "; echo $? >&2");
    EXPECT_EQ(result.err.substr(result.err.rfind('\n', result.err.size() - 2) + 1), std::to_string(c.exitCode) + "\n");
    if (!c.message.empty()) {
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    std::vector<std::string> after = before;
    after.insert(after.end(), c.kept.begin(), c.kept.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(folderEntries(), after);
}

const std::vector<std::string> kLongClip = {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=20",
                                            "-c:v", "ffv1"};
const std::vector<std::string> kClip = joined({kPicture, {"-c:v", "ffv1"}});

INSTANTIATE_TEST_SUITE_P(
    Films, FilmFailureTest,
    ::testing::Values(
        FailureCase{"not_a_film", kClip, notAFilm, "CRESTDOUBLER IN OUT.mkv", 1,
                    "in.mkv: cannot open as a film: Invalid data"},
        FailureCase{"no_video", joined({kTone}), asItIs, "CRESTDOUBLER IN OUT.mkv", 1, "in.mkv has no video stream"},
        FailureCase{"truncated", kClip, firstHalf, "CRESTDOUBLER IN OUT.mkv", 1, "in.mkv: frame "},
        FailureCase{"corrupt", joined({kPicture, {"-c:v", "libx264"}}), scrambledMiddle, "CRESTDOUBLER IN OUT.mkv", 1,
                    "in.mkv: frame "},
        FailureCase{"past_the_end", kClip, asItIs, "CRESTDOUBLER --first-frame 30 IN OUT.mkv", 1,
                    "in.mkv has 30 frames: --first-frame 30 is past its end"},
        FailureCase{"no_such_encoder", kClip, asItIs, "CRESTDOUBLER --codec nonesuch IN OUT.mkv", 2,
                    "out.mkv: this build has no video encoder nonesuch"},
        FailureCase{"container_cannot_hold", kClip, asItIs, "CRESTDOUBLER --codec ffv1 IN OUT.mp4", 2,
                    "out.mp4: the mp4 container cannot hold ffv1 video"},
        FailureCase{"unknown_encoder_option", kClip, asItIs, "CRESTDOUBLER --encoder-option nonesuch=1 IN OUT.mkv", 2,
                    "the libx264 encoder has no option nonesuch"},
        FailureCase{"film_to_raw", kClip, asItIs, "CRESTDOUBLER IN OUT.raw", 2, "is not named as one"},
        FailureCase{"disk_full", kLongClip, asItIs, "ulimit -f 200; CRESTDOUBLER --codec ffv1 IN OUT.mkv", 1,
                    "out.mkv: "},
        // The work folder stays, for the same command to resume.
        FailureCase{"terminated",
                    kLongClip,
                    asItIs,
                    "CRESTDOUBLER IN OUT.mkv & sleep 1; kill -TERM $!; wait $!",
                    143,
                    "",
                    {".out.mkv.parts"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace crest::clitest

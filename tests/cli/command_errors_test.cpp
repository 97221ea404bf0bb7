// Every way a run can fail: one line on stderr naming the culprit, an exit
// status below 126, and no output file, partial or empty, left behind.
#include <png.h>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

namespace fs = std::filesystem;

constexpr int kUsage = 2;
constexpr int kFailure = 1;

void nothing(const fs::path&) {}
void textNamedPng(const fs::path& folder) { writeFile(folder / "in.png", "this is plain text, not an image\n"); }
void emptyPng(const fs::path& folder) { writeFile(folder / "in.png", ""); }
void rawFrames(const fs::path& folder) { writeFile(folder / "in.raw", std::string(2 * 4 * 4 * 4, '\x40')); }
void emptyRaw(const fs::path& folder) { writeFile(folder / "in.raw", ""); }
void partialFirstFrame(const fs::path& folder) { writeFile(folder / "in.raw", std::string(4 * 4 * 4 - 1, '\x40')); }
void goodPng(const fs::path& folder) { writeTestPng(folder / "in.png", {"rgb8", PNG_COLOR_TYPE_RGB, 8}, 40, 33, 9); }
void outputIsFolder(const fs::path& folder) {
    goodPng(folder);
    fs::create_directory(folder / "out.png");
}
void truncatedPng(const fs::path& folder) {
    goodPng(folder);
    const std::string whole = readFile(folder / "in.png");
    writeFile(folder / "in.png", whole.substr(0, whole.size() / 2));
}
void pngWithoutEnd(const fs::path& folder) {
    goodPng(folder);
    const std::string whole = readFile(folder / "in.png");
    writeFile(folder / "in.png", whole.substr(0, whole.size() - 12));  // drops the IEND chunk
}
void corruptPng(const fs::path& folder) {
    goodPng(folder);
    std::string bytes = readFile(folder / "in.png");
    bytes[bytes.size() - 20] = static_cast<char>(bytes[bytes.size() - 20] ^ 0x55);  // inside the image data
    writeFile(folder / "in.png", bytes);
}
void hugePng(const fs::path& folder) { writeFile(folder / "in.png", pngWithHeaderSize(100000, 100000)); }
void widePng(const fs::path& folder) { writeFile(folder / "in.png", pngWithHeaderSize(1048577, 1)); }
void tallPng(const fs::path& folder) { writeFile(folder / "in.png", pngWithHeaderSize(1, 1048577)); }
// Within the size limits, but a few bytes cannot hold 512 MB of pixels.
void largestPngInAFewBytes(const fs::path& folder) { writeFile(folder / "in.png", pngWithHeaderSize(16384, 8192)); }

// Pictures of the other formats: in.EXT, whole, cut or damaged.
constexpr char kJpg[] = "jpg";
constexpr char kWebp[] = "webp";
constexpr char kTif[] = "tif";
constexpr char kJxl[] = "jxl";
constexpr char kAvif[] = "avif";
constexpr char kHeic[] = "heic";
constexpr char kGif[] = "gif";
template <const char* Extension>
fs::path picturePath(const fs::path& folder) { return folder / (std::string("in.") + Extension); }
template <const char* Extension>
void goodPicture(const fs::path& folder) {
    writePicture(picturePath<Extension>(folder).string(), makeSamples(40, 33, 3, 8, 9));
}
template <const char* Extension>
void truncatedPicture(const fs::path& folder) {
    goodPicture<Extension>(folder);
    const std::string whole = readFile(picturePath<Extension>(folder));
    writeFile(picturePath<Extension>(folder), whole.substr(0, whole.size() / 2));
}
// 40 junk bytes from byte From, or from a third of the file for From 0.
template <const char* Extension, std::size_t From>
void corruptPicture(const fs::path& folder) {
    goodPicture<Extension>(folder);
    std::string bytes = readFile(picturePath<Extension>(folder));
    const std::size_t from = From == 0 ? bytes.size() / 3 : From;
    for (std::size_t i = from; i < from + 40; ++i) bytes[i] = static_cast<char>(i * 37);
    writeFile(picturePath<Extension>(folder), bytes);
}
// A small JPEG whose frame header claims 16000x8000 pixels.
void jpegInAFewBytes(const fs::path& folder) {
    goodPicture<kJpg>(folder);
    std::string bytes = readFile(picturePath<kJpg>(folder));
    const auto frame = bytes.find("\xff\xc0");
    ASSERT_NE(frame, std::string::npos);
    bytes.replace(frame + 5, 4, std::string("\x1f\x40\x3e\x80", 4));  // height 8000, width 16000
    writeFile(picturePath<kJpg>(folder), bytes);
}
void rgbaPng(const fs::path& folder) { writePicture((folder / "in.png").string(), makeSamples(6, 5, 4, 8, 3)); }

struct ErrorCase {
    const char* name;
    void (*prepare)(const fs::path& folder);
    std::vector<std::string> arguments;  // "@" stands for the test's folder
    int exitCode;
    std::vector<std::string> messageParts;  // "@" likewise
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

std::string inFolder(const std::string& text, const fs::path& folder) {
    std::string result = text;
    for (auto at = result.find('@'); at != std::string::npos; at = result.find('@', at + folder.string().size()))
        result.replace(at, 1, folder.string());
    return result;
}

const std::vector<ErrorCase>& errorCases() {
    static const std::vector<ErrorCase> cases = {
        {"MissingPngInput", nothing, {"@/missing.png", "@/out.png"}, kFailure, {"@/missing.png", "No such file"}},
        {"MissingRawInput", nothing, {"--size", "4x4", "@/missing.raw", "@/out.raw"}, kFailure, {"@/missing.raw"}},
        {"InputIsAFolder", nothing, {"--size", "4x4", "@", "@/out.raw"}, kFailure, {"@", "folder"}},
        {"TextNamedPng", textNamedPng, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "not a PNG"}},
        {"EmptyPng", emptyPng, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "empty"}},
        {"TruncatedPng", truncatedPng, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "truncated"}},
        {"PngWithoutEnd", pngWithoutEnd, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "truncated"}},
        {"CorruptPng", corruptPng, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "corrupt"}},
        {"EnormousPngHeader", hugePng, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "100000x100000"}},
        {"TooWidePng", widePng, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "1048577x1", "1048576x1048576"}},
        {"LargestPngInAFewBytes",
         largestPngInAFewBytes,
         {"@/in.png", "@/out.png"},
         kFailure,
         {"@/in.png", "truncated", "16384x8192"}},
        {"TooTallPng", tallPng, {"@/in.png", "@/out.png"}, kFailure, {"@/in.png", "1x1048577"}},
        {"TruncatedJpeg", truncatedPicture<kJpg>, {"@/in.jpg", "@/out.jpg"}, kFailure, {"@/in.jpg", "truncated JPEG"}},
        {"CorruptJpeg", corruptPicture<kJpg, 0>, {"@/in.jpg", "@/out.jpg"}, kFailure, {"@/in.jpg", "corrupt JPEG"}},
        {"JpegInAFewBytes",
         jpegInAFewBytes,
         {"@/in.jpg", "@/out.png"},
         kFailure,
         {"@/in.jpg", "truncated", "16000x8000"}},
        {"TruncatedWebp",
         truncatedPicture<kWebp>,
         {"@/in.webp", "@/out.webp"},
         kFailure,
         {"@/in.webp", "truncated WebP"}},
        {"CorruptWebp",
         corruptPicture<kWebp, 12>,
         {"@/in.webp", "@/out.webp"},
         kFailure,
         {"@/in.webp", "corrupt WebP"}},
        {"TruncatedTiff", truncatedPicture<kTif>, {"@/in.tif", "@/out.tif"}, kFailure, {"@/in.tif", "TIFF"}},
        {"CorruptTiff", corruptPicture<kTif, 4>, {"@/in.tif", "@/out.tif"}, kFailure, {"@/in.tif", "corrupt TIFF"}},
        {"TruncatedJxl", truncatedPicture<kJxl>, {"@/in.jxl", "@/out.jxl"}, kFailure, {"@/in.jxl", "JPEG XL"}},
        {"CorruptJxl", corruptPicture<kJxl, 0>, {"@/in.jxl", "@/out.jxl"}, kFailure, {"@/in.jxl", "corrupt JPEG XL"}},
        {"TruncatedAvif",
         truncatedPicture<kAvif>,
         {"@/in.avif", "@/out.avif"},
         kFailure,
         {"@/in.avif", "truncated AVIF"}},
        {"CorruptHeic", corruptPicture<kHeic, 0>, {"@/in.heic", "@/out.heic"}, kFailure, {"@/in.heic", "corrupt HEIC"}},
        {"TruncatedGif", truncatedPicture<kGif>, {"@/in.gif", "@/out.png"}, kFailure, {"@/in.gif", "truncated GIF"}},
        {"CorruptGif", corruptPicture<kGif, 10>, {"@/in.gif", "@/out.png"}, kFailure, {"@/in.gif", "corrupt GIF"}},
        {"GifOutput", goodPng, {"@/in.png", "@/out.gif"}, kFailure, {"@/out.gif", "GIF is read only"}},
        {"KeepTagsOfAPictureWithAlpha",
         rgbaPng,
         {"--keep-tags", "@/in.png", "@/out.png"},
         kFailure,
         {"--keep-tags", "@/in.png", "alpha"}},
        {"KeepTagsIntoJpeg", goodPng, {"--keep-tags", "@/in.png", "@/out.jpg"}, kFailure, {"--keep-tags", "@/out.jpg"}},
        {"SizeWithoutX", rawFrames, {"--size", "abc", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "abc"}},
        {"SizeWithoutHeight", rawFrames, {"--size", "10x", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "10x"}},
        {"SizeWithoutWidth", rawFrames, {"--size", "x10", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "x10"}},
        {"NegativeSize", rawFrames, {"--size=-3x4", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "-3x4"}},
        {"SizeWithThreeParts", rawFrames, {"--size", "4x4x4", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "4x4x4"}},
        {"SizeWithSpace", rawFrames, {"--size", "4 x4", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "4 x4"}},
        {"ZeroWidth", rawFrames, {"--size", "0x4", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "0x4"}},
        {"ZeroHeight", rawFrames, {"--size", "4x0", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "4x0"}},
        {"TooWideSize", rawFrames, {"--size", "16385x1", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "16385x1"}},
        {"TooTallSize", rawFrames, {"--size", "1x8193", "@/in.raw", "@/out.raw"}, kUsage, {"--size", "1x8193"}},
        {"OverflowingSize",
         rawFrames,
         {"--size", "99999999999999999999x2", "@/in.raw", "@/out.raw"},
         kUsage,
         {"--size", "99999999999999999999x2"}},
        {"SizeWithoutValue", rawFrames, {"@/in.raw", "@/out.raw", "--size"}, kUsage, {"--size", "needs a value"}},
        {"SizeForPngInput", goodPng, {"--size", "4x4", "@/in.png", "@/out.png"}, kUsage, {"--size", "@/in.png"}},
        {"RawInputWithoutSize", rawFrames, {"@/in.raw", "@/out.raw"}, kUsage, {"@/in.raw", "--size"}},
        {"StdinWithoutSize", nothing, {"-", "@/out.raw"}, kUsage, {"standard input", "--size"}},
        {"UnknownOption", rawFrames, {"--frobnicate", "@/in.raw", "@/out.raw"}, kUsage, {"--frobnicate"}},
        {"UnknownShortOption", rawFrames, {"-q", "@/in.raw", "@/out.raw"}, kUsage, {"-q"}},
        {"ValueForFlag", goodPng, {"--keep-tags=yes", "@/in.png", "@/out.png"}, kUsage, {"--keep-tags"}},
        {"NoPaths", nothing, {}, kUsage, {"INPUT and OUTPUT"}},
        {"OnePath", goodPng, {"@/in.png"}, kUsage, {"INPUT and OUTPUT"}},
        {"ThreePaths", goodPng, {"@/in.png", "@/out.png", "@/third.png"}, kUsage, {"@/third.png"}},
        {"SameInputAndOutput", rawFrames, {"--size", "4x4", "@/in.raw", "@/./in.raw"}, kUsage, {"same file"}},
        {"MissingPngOutputFolder",
         goodPng,
         {"@/in.png", "@/no-such/out.png"},
         kFailure,
         {"@/no-such", "does not exist"}},
        {"MissingRawOutputFolder",
         rawFrames,
         {"--size", "4x4", "@/in.raw", "@/no-such/out.raw"},
         kFailure,
         {"@/no-such", "does not exist"}},
        {"OutputIsAFolder", outputIsFolder, {"@/in.png", "@/out.png"}, kFailure, {"@/out.png", "folder"}},
        {"EmptyRawStream", emptyRaw, {"--size", "4x4", "@/in.raw", "@/out.raw"}, kFailure, {"@/in.raw", "no frame"}},
        {"PartialFirstFrame",
         partialFirstFrame,
         {"--size", "4x4", "@/in.raw", "@/out.raw"},
         kFailure,
         {"@/in.raw", "partial frame", "63 of 64 bytes"}},
        {"TwoFramesIntoPng",
         rawFrames,
         {"--size", "4x4", "@/in.raw", "@/out.png"},
         kFailure,
         {"@/out.png", "one frame"}},
        {"MissingModule", goodPng, {"--module", "@/none.cpf", "@/in.png", "@/out.png"}, kFailure, {"@/none.cpf"}},
        {"ModuleIsNoLibrary",
         goodPng,
         {"--module", "@/in.png", "@/in.png", "@/out.png"},
         kFailure,
         {"cannot load module @/in.png"}},
        {"ModuleWithoutEntryPoints",
         goodPng,
         {"--module", FAKE_MODULE_NO_ENTRY_POINTS, "@/in.png", "@/out.png"},
         kFailure,
         {FAKE_MODULE_NO_ENTRY_POINTS, "CinderpaneFilterModuleCheckVersion"}},
        {"ModuleOfAnotherVersion",
         goodPng,
         {"--module", FAKE_MODULE_WRONG_VERSION, "@/in.png", "@/out.png"},
         kFailure,
         {FAKE_MODULE_WRONG_VERSION, "version 8"}},
        {"ModuleRegistersNothing",
         goodPng,
         {"--module", FAKE_MODULE_REGISTERS_NOTHING, "@/in.png", "@/out.png"},
         kFailure,
         {FAKE_MODULE_REGISTERS_NOTHING, "registered no filter"}},
        {"ModuleFailsToEnlarge",
         goodPng,
         {"--module", FAKE_MODULE_RUN_FAILS, "@/in.png", "@/out.png"},
         kFailure,
         {"module failed to enlarge frame 1", "40x33", "result 2"}},
        {"ModuleFailsToEnlargeRaw",
         rawFrames,
         {"--module", FAKE_MODULE_RUN_FAILS, "--size", "4x4", "@/in.raw", "@/out.raw"},
         kFailure,
         {"module failed to enlarge frame 1"}},
    };
    return cases;
}

class CommandErrorTest : public CommandTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(CommandErrorTest, ReportsOneLineAndLeavesNoOutput) {
    const ErrorCase& c = GetParam();
    c.prepare(folder_);
    const std::vector<std::string> before = folderEntries();
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments) arguments.push_back(inFolder(argument, folder_));

    CommandResult result = runCrestdoubler(arguments);
    // Debian's libjxl prints a trace of a failed decode itself, before the command's line.
    for (auto at = result.err.find("./lib/jxl/"); at == 0; at = result.err.find("./lib/jxl/"))
        result.err.erase(0, result.err.find('\n') + 1);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(result.out, "");
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.rfind("crestdoubler: ", 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "not one line: " << result.err;
    for (const std::string& part : c.messageParts)
        EXPECT_NE(result.err.find(inFolder(part, folder_)), std::string::npos)
            << "message lacks '" << inFolder(part, folder_) << "': " << result.err;
    EXPECT_EQ(folderEntries(), before) << "the command left a file behind";
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandErrorTest, ::testing::ValuesIn(errorCases()),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.name; });

class PartialStreamTest : public CommandTest {
protected:
    static constexpr std::int32_t kWidth = 7;
    static constexpr std::int32_t kHeight = 5;

    // Three complete frames and the start of a fourth.
    std::vector<pictures::Picture> writeCutStream() {
        std::vector<pictures::Picture> frames;
        std::string bytes;
        for (int i = 0; i < 3; ++i) {
            frames.push_back(rawTestPicture(kWidth, kHeight, 40 + i));
            bytes += rawBytes(frames.back().pixels);
        }
        writeFile(path("in.raw"), bytes + std::string(50, '\x11'));
        return frames;
    }

    void expectCompleteFramesKept(const std::string& output, const std::vector<pictures::Picture>& frames) {
        const std::size_t frameBytes = 16 * kWidth * kHeight;
        ASSERT_EQ(output.size(), frames.size() * frameBytes);
        for (std::size_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(rawWords(output.substr(i * frameBytes, frameBytes)), engineEnlargement(frames[i])) << i;
    }
};

TEST_F(PartialStreamTest, KeepsCompleteFramesInAFileAndReportsTheCut) {
    const auto frames = writeCutStream();
    const CommandResult result = runCrestdoubler({"--size", "7x5", path("in.raw"), path("out.raw")});
    EXPECT_EQ(result.exitCode, kFailure);
    EXPECT_NE(result.err.find("partial frame: 50 of 140 bytes after 3 complete frames"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(path("in.raw").string()), std::string::npos) << result.err;
    expectCompleteFramesKept(readFile(path("out.raw")), frames);
}

TEST_F(PartialStreamTest, KeepsCompleteFramesOnStandardOutput) {
    const auto frames = writeCutStream();
    const CommandResult result = runCrestdoubler({"--size", "7x5", "-", "-"}, path("in.raw"));
    EXPECT_EQ(result.exitCode, kFailure);
    EXPECT_NE(result.err.find("standard input"), std::string::npos) << result.err;
    expectCompleteFramesKept(result.out, frames);
}

class FailedRunTest : public CommandTest {};

TEST_F(FailedRunTest, ExistingPngOutputIsLeftAsItWas) {
    truncatedPng(folder_);
    writeFile(path("out.png"), "the previous picture");
    EXPECT_EQ(runCrestdoubler({path("in.png"), path("out.png")}).exitCode, kFailure);
    EXPECT_EQ(readFile(path("out.png")), "the previous picture");
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"in.png", "out.png"}));
}

TEST_F(FailedRunTest, ExistingRawOutputIsNotTruncatedBeforeTheFirstFrame) {
    emptyRaw(folder_);
    writeFile(path("out.raw"), "previous frames");
    EXPECT_EQ(runCrestdoubler({"--size", "4x4", path("in.raw"), path("out.raw")}).exitCode, kFailure);
    EXPECT_EQ(readFile(path("out.raw")), "previous frames");
}

TEST_F(FailedRunTest, ReaderThatLeavesEarlyGivesAnErrorNotASignal) {
    std::string bytes;
    for (int i = 0; i < 40; ++i) bytes += rawBytes(rawTestPicture(64, 64, i).pixels);
    writeFile(path("in.raw"), bytes);
    const CommandResult result = runPipeline("{ status=0; CRESTDOUBLER --size 64x64 '" + path("in.raw").string() +
                                             "' - 2>'" + path("err").string() + "' || status=$?; echo $status > '" +
                                             path("status").string() + "'; } | head -c 100 > /dev/null");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(path("status")), "1\n");
    EXPECT_NE(readFile(path("err")).find("standard output"), std::string::npos) << readFile(path("err"));
}

}  // namespace
}  // namespace crest::clitest

// Folder runs: trees mirrored with --recursive, and --skip-existing resuming
// a run that was stopped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

namespace fs = std::filesystem;

// Every file below root, as paths relative to it, sorted.
std::vector<std::string> filesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

// The outputs of a folder run: temporary files are hidden.
std::vector<std::string> outputsIn(const fs::path& root) {
    std::error_code error;
    if (!fs::is_directory(root, error)) return {};
    std::vector<std::string> outputs = filesBelow(root);
    std::erase_if(outputs, [](const std::string& name) { return name[0] == '.'; });
    return outputs;
}

class FolderRunTest : public CommandTest {
protected:
    void writeTree() {
        fs::create_directories(path("holiday/2024/beach"));
        fs::create_directories(path("holiday/.thumbnails"));
        writePicture(path("holiday/top.png").string(), makeSamples(9, 7, 3, 8, 1));
        writePicture(path("holiday/2024/a.jpg").string(), makeSamples(8, 6, 3, 8, 2));
        writePicture(path("holiday/2024/beach/b.webp").string(), makeSamples(7, 5, 4, 8, 3));
        // A name of bytes that are no valid UTF-8 is kept as it is.
        writePicture(path("holiday/2024/beach/caf\xe9.png").string(), makeSamples(5, 5, 3, 8, 4));
        writePicture(path("holiday/.hidden.png").string(), makeSamples(4, 4, 3, 8, 5));
        writePicture(path("holiday/.thumbnails/t.png").string(), makeSamples(4, 4, 3, 8, 6));
        writeFile(path("holiday/2024/notes.txt"), "not a picture");
        // A link back up the tree would never end if followed.
        fs::create_directory_symlink("..", path("holiday/2024/loop"));
    }
};

TEST_F(FolderRunTest, RecursiveMirrorsTheTreeAndLeavesOutHiddenEntriesAndFolderLinks) {
    writeTree();
    const CommandResult result = runCrestdoubler({"-r", "-o", path("out"), "--suffix", "-2x", path("holiday")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(filesBelow(path("out")), (std::vector<std::string>{"2024/a-2x.jpg", "2024/beach/b-2x.webp",
                                                                 "2024/beach/caf\xe9-2x.png", "top-2x.png"}));
    // Each is what a run of the picture alone writes.
    ASSERT_EQ(runCrestdoubler({path("holiday/2024/beach/b.webp"), path("alone.webp")}).exitCode, 0);
    EXPECT_EQ(readFile(path("out/2024/beach/b-2x.webp")), readFile(path("alone.webp")));

    // Without --recursive only the folder's own pictures are enlarged.
    ASSERT_EQ(runCrestdoubler({"-o", path("flat"), path("holiday")}).exitCode, 0);
    EXPECT_EQ(filesBelow(path("flat")), std::vector<std::string>{"top.png"});
}

// A run stopped part way has written some outputs whole and none in part;
// the same command with --skip-existing writes exactly the others.
TEST_F(FolderRunTest, SkipExistingAfterAKilledRunWritesTheMissingOutputs) {
    fs::create_directory(path("many"));
    for (int i = 0; i < 12; ++i)
        writePicture(path("many/p" + std::to_string(10 + i) + ".png").string(), makeSamples(300, 200, 3, 8, 20 + i));
    const std::vector<std::string> arguments = {"--threads", "1", "-o", path("out").string(), path("many").string()};
    std::vector<std::string> argv = {CRESTDOUBLER_EXE};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const int pid = startProgram(argv);
    auto written = [&] { return outputsIn(path("out")).size(); };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (written() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, SIGKILL);
    EXPECT_EQ(waitForProgram(pid), 128 + SIGKILL);
    const std::vector<std::string> before = outputsIn(path("out"));
    ASSERT_GE(before.size(), 3u);
    ASSERT_LT(before.size(), 12u) << "the run ended before it was stopped";
    std::vector<fs::file_time_type> times;
    for (const std::string& name : before) times.push_back(fs::last_write_time(path("out") / name));

    std::vector<std::string> again(arguments);
    again.insert(again.begin(), "--skip-existing");
    const CommandResult result = runCrestdoubler(again);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "crestdoubler: " + std::to_string(12 - before.size()) + " pictures enlarged, " +
                              std::to_string(before.size()) + " skipped, 0 failed\n");
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(fs::last_write_time(path("out") / before[i]), times[i]) << before[i] << " was written again";
    EXPECT_EQ(outputsIn(path("out")).size(), 12u);
    ASSERT_EQ(runCrestdoubler({path("many/p21.png"), path("alone.png")}).exitCode, 0);
    EXPECT_EQ(readFile(path("out/p21.png")), readFile(path("alone.png")));
}

}  // namespace
}  // namespace crest::clitest

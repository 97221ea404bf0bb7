// Help, version, and finding the module.
#include <png.h>

#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

namespace fs = std::filesystem;

class CommandBasicsTest : public CommandTest {};

TEST_F(CommandBasicsTest, HelpDescribesEveryOption) {
    for (const char* flag : {"--help", "-h"}) {
        const CommandResult result = runCrestdoubler({flag});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.rfind("Usage: crestdoubler [options] INPUT OUTPUT\n", 0), 0u) << result.out;
        for (const char* option : {"--size", "--keep-tags", "--module", "--threads", "--help", "--version"})
            EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
}

TEST_F(CommandBasicsTest, HelpWinsOverOtherArguments) {
    const CommandResult result = runCrestdoubler({"in.raw", "--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("Usage:"), std::string::npos);
}

TEST_F(CommandBasicsTest, VersionNamesTheProjectVersion) {
    const CommandResult result = runCrestdoubler({"--version"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind(std::string("crestdoubler ") + CRESTDOUBLER_VERSION + " ", 0), 0u) << result.out;
    EXPECT_EQ(result.out.back(), '\n');
}

TEST_F(CommandBasicsTest, FindsTheModuleBesideTheExecutableWhereverItRunsFrom) {
    fs::copy_file(CRESTDOUBLER_EXE, path("crestdoubler"));
    fs::copy_file(CRESTDOUBLER_MODULE, path("crestdoubler.cpf"));
    writeTestPng(path("in.png"), {"rgb8", PNG_COLOR_TYPE_RGB, 8}, 5, 4, 3);
    const CommandResult result =
        runProgram({"/bin/sh", "-c", "cd / && '" + path("crestdoubler").string() + "' '" + path("in.png").string() +
                                          "' '" + path("out.png").string() + "'"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readPng(path("out.png")).width, 10);
}

TEST_F(CommandBasicsTest, WithoutAModuleBesideItNamesWhereItLooked) {
    fs::copy_file(CRESTDOUBLER_EXE, path("crestdoubler"));
    writeTestPng(path("in.png"), {"rgb8", PNG_COLOR_TYPE_RGB, 8}, 5, 4, 3);
    const CommandResult result = runProgram({path("crestdoubler"), path("in.png"), path("out.png")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(path("crestdoubler.cpf").string()), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(path("out.png")));
}

TEST_F(CommandBasicsTest, ModuleNamedWithoutFolderIsTakenFromTheCurrentFolder) {
    fs::copy_file(CRESTDOUBLER_MODULE, path("renamed.cpf"));
    writeTestPng(path("in.png"), {"rgb8", PNG_COLOR_TYPE_RGB, 8}, 5, 4, 3);
    const CommandResult result = runPipeline("cd '" + folder_.string() +
                                             "' && CRESTDOUBLER --module renamed.cpf in.png out.png");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readPng(path("out.png")).height, 8);
}

TEST_F(CommandBasicsTest, DoubleDashEndsTheOptions) {
    writeTestPng(path("-in.png"), {"rgb8", PNG_COLOR_TYPE_RGB, 8}, 5, 4, 3);
    const CommandResult result = runPipeline("cd '" + folder_.string() + "' && CRESTDOUBLER -- -in.png -out.png");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readPng(path("-out.png")).width, 10);
}

}  // namespace
}  // namespace crest::clitest

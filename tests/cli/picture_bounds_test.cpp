// The bound against decompression bombs beyond the unchecked size: files of
// formats without a bound of their own must hold a byte per kDenseFileRatio
// bytes of pixels.
#include <gtest/gtest.h>

#include "cli/base/command_error.h"
#include "cli/media/picture/image_io.h"
#include "tests/cli/cli_test_support.h"

namespace crest::clitest {
namespace {

TEST_F(CommandTest, PicturesBeyondTheUncheckedSizeNeedFilesOfTheirSize) {
    // 1000 pixels unchecked: the pictures below are beyond it.
    const cli::DecodeLimits limits{cli::kMaxPictureSide, cli::kMaxPictureSide, 1000};
    constexpr std::int32_t kFlatSide = 1024;
    const Samples black{kFlatSide, kFlatSide, 3, 8, std::vector<std::uint16_t>(std::size_t{3} * kFlatSide * kFlatSide)};
    for (const char* name : {"in.jxl", "in.avif", "in.heic"}) {
        const std::string flat = std::string("flat-") + name;
        writePicture(path(flat).string(), black);
        writePicture(path(name).string(), makeSamples(256, 256, 3, 8, 9));
        const std::string flatBytes = readFile(path(flat));
        const std::string bytes = readFile(path(name));
        ASSERT_LT(flatBytes.size(), 3 * kFlatSide * kFlatSide / cli::kDenseFileRatio) << name;
        auto open = [](const std::string& bytes, const std::string& name, const cli::DecodeLimits& bounds) {
            return cli::PictureReader(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), name, bounds);
        };
        try {
            open(flatBytes, flat, limits);
            ADD_FAILURE() << flat << " was read";
        } catch (const cli::CommandError& error) {
            EXPECT_NE(std::string(error.what()).find("1024x1024"), std::string::npos) << error.what();
        }
        // A picture of some detail passes the bound, and so does the flat one within the unchecked size.
        EXPECT_EQ(open(bytes, name, limits).width(), 256) << name;
        EXPECT_EQ(open(flatBytes, flat, {}).width(), kFlatSide) << name;
    }
}

}  // namespace
}  // namespace crest::clitest

// How a path's kind and an option's time are read, without running the command.
#include <gtest/gtest.h>

#include "cli/base/command_error.h"
#include "cli/command/options.h"
#include "cli/jobs/path_kind.h"

namespace crest::cli {
namespace {

TEST(PathKindTest, ExtensionsAndPatternsChooseTheKind) {
    const struct {
        const char* path;
        PathKind kind;
    } cases[] = {
        {"photo.png", PathKind::image},      {"dir.v2/PHOTO.JPG", PathKind::image},
        {"a.jpeg", PathKind::image},         {"a.WebP", PathKind::image},
        {"scan.tif", PathKind::image},       {"scan.TIFF", PathKind::image},
        {"a.jxl", PathKind::image},          {"a.AVIF", PathKind::image},
        {"a.heic", PathKind::image},         {"a.heif", PathKind::image},
        {"a.gif", PathKind::image},
        {"film.mkv", PathKind::video},       {"film.MP4", PathKind::video},
        {"clip.webm", PathKind::video},      {"frames/%06d.png", PathKind::video},
        {"frames/img%d.jpg", PathKind::video}, {"100%.png", PathKind::image},
        {"frames.bgra", PathKind::raw},      {"-", PathKind::raw},
        {"noextension", PathKind::raw},      {"dir.png/frames", PathKind::raw},
        {".png", PathKind::raw},
    };
    for (const auto& c : cases) EXPECT_EQ(kindOfPath(c.path), c.kind) << c.path;
}

TEST(ParseTimeTest, ReadsSecondsAndClockTimes) {
    const struct {
        const char* text;
        double seconds;
    } good[] = {{"0", 0}, {"90", 90}, {"2.5", 2.5}, {"1:30", 90}, {"0:01:30.5", 90.5}, {"120:00", 7200}};
    for (const auto& c : good) EXPECT_DOUBLE_EQ(parseTime(c.text, "--start"), c.seconds) << c.text;
    for (const char* bad : {"", "-1", "1:", ":30", "1:60", "1:2:3:4", "1.5:00", "ten", "1e3", " 5"})
        EXPECT_THROW(parseTime(bad, "--start"), CommandError) << bad;
}

}  // namespace
}  // namespace crest::cli

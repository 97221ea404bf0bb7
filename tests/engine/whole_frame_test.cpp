#include <gtest/gtest.h>

#include "tests/support/frame_helpers.h"

namespace crest {
namespace {
TEST(Smoke, Runs) {
    auto picture = pictures::makePicture(pictures::Content::natural, 97, 61, 3);
    auto frame = testing::enlarge(picture);
    EXPECT_EQ(frame.result, 0);
}
}  // namespace
}  // namespace crest

// Running out of memory while a state that already holds a pool and caches
// grows for a larger frame: the old storage is replaced, not built from empty.
#include <gtest/gtest.h>

#include "engine/enlarger.h"
#include "tests/support/frame_helpers.h"
#include "tests/support/test_allocator.h"

namespace crest {
namespace {

using pictures::Content;
using pictures::makePicture;

TEST(WarmStateMemory, GrowingForALargerFrameFailsAtEveryAllocationAndRecovers) {
    const auto small = makePicture(Content::noise, 12, 10, 21);
    const auto large = makePicture(Content::noise, 40, 30, 22);
    const auto expectedSmall = testing::enlarge(small).pixels;
    const auto expectedLarge = testing::enlarge(large).pixels;
    int failures = 0;
    for (int n = 1;; ++n) {
        testing::TestAllocator memory;
        EnlargerState state(memory.allocator());
        ASSERT_EQ(testing::enlarge(state, small).result, 0);
        const std::uint32_t warmBlocks = state.blockCount;

        memory.failFrom(n);
        const auto failed = testing::enlarge(state, large);
        memory.failNone();
        if (failed.result == 0) {
            EXPECT_EQ(failed.pixels, expectedLarge);
            break;
        }
        ++failures;
        EXPECT_EQ(failed.result, static_cast<std::int32_t>(EnlargeStatus::outOfMemory)) << "failing allocation " << n;
        EXPECT_GE(state.blockCount, warmBlocks) << "failing allocation " << n;
        // Whatever mix of grown and old caches the failure left, both sizes work again.
        const auto retryLarge = testing::enlarge(state, large);
        EXPECT_EQ(retryLarge.result, 0);
        EXPECT_EQ(retryLarge.pixels, expectedLarge) << "after failing allocation " << n;
        const auto retrySmall = testing::enlarge(state, small);
        EXPECT_EQ(retrySmall.result, 0);
        EXPECT_EQ(retrySmall.pixels, expectedSmall) << "after failing allocation " << n;
        EXPECT_EQ(memory.foreignReleases_, 0);
    }
    EXPECT_GE(failures, 3) << "the three band storages grow";
}

}  // namespace
}  // namespace crest

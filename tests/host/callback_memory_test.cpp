// The callbacks when memory runs out, with an allocator that fails on demand.
#include <gtest/gtest.h>

#include "engine/enlarger.h"
#include "host/instance_callbacks.h"
#include "tests/host/fake_host.h"
#include "tests/support/frame_helpers.h"
#include "tests/support/test_allocator.h"

namespace crest {
namespace {

using testing::InstanceDriver;
using testing::TestAllocator;

class CallbackMemory : public ::testing::Test {
protected:
    void SetUp() override { setInstanceAllocator(&memory_.allocator()); }
    void TearDown() override {
        setInstanceAllocator(nullptr);
        EXPECT_EQ(memory_.foreignReleases_, 0);
    }
    TestAllocator memory_;
    const FilterDescriptor& descriptor_ = filterDescriptor();
    const pictures::Picture picture_ = pictures::makePicture(pictures::Content::noise, 24, 18, 6);
};

TEST_F(CallbackMemory, InitThenDeinitAllocatesAndFreesOnlyTheSentinel) {
    InstanceDriver instance(descriptor_);
    ASSERT_EQ(instance.init(), 0);
    EXPECT_EQ(memory_.allocations(), 1);
    EXPECT_EQ(memory_.liveBytes(), sizeof(MomentBlock));
    instance.deinit();
    EXPECT_EQ(memory_.liveBlocks(), 0u);
}

TEST_F(CallbackMemory, FailedInitReturnsOneAndLeavesASafeState) {
    memory_.failFrom(1);
    InstanceDriver instance(descriptor_);
    EXPECT_EQ(instance.init(), 1);
    memory_.failNone();
    EXPECT_NE(instance.enlarge(picture_).result, 0);
    instance.deinit();
    EXPECT_EQ(memory_.liveBlocks(), 0u);
}

TEST_F(CallbackMemory, EndReleasesEverythingButTheSentinel) {
    InstanceDriver instance(descriptor_);
    ASSERT_EQ(instance.init(), 0);
    ASSERT_EQ(instance.enlarge(picture_, false).result, 0);
    EXPECT_EQ(memory_.liveBlocks(), 4u) << "the sentinel and three band storages";
    descriptor_.endCallback(&instance.context, &testing::fakeHostFunctions());
    EXPECT_EQ(memory_.liveBlocks(), 1u);
    // And the instance still works: the pool grows again from empty.
    EXPECT_EQ(instance.enlarge(picture_).result, 0);
    instance.deinit();
    EXPECT_EQ(memory_.liveBlocks(), 0u);
}

TEST_F(CallbackMemory, RunFailsAtEveryAllocationAndRecovers) {
    const auto expected = crest::testing::enlarge(picture_).pixels;
    InstanceDriver instance(descriptor_);
    ASSERT_EQ(instance.init(), 0);
    int failingRuns = 0;
    for (int n = 1;; ++n) {
        memory_.failFrom(n);
        const auto frame = instance.enlarge(picture_);  // ends the run: every frame starts from empty
        memory_.failNone();
        if (frame.result == 0) {
            EXPECT_EQ(frame.pixels, expected);
            break;
        }
        ++failingRuns;
        EXPECT_EQ(memory_.liveBlocks(), 1u) << "end frees what the failed run built";
        const auto retry = instance.enlarge(picture_);
        EXPECT_EQ(retry.result, 0);
        EXPECT_EQ(retry.pixels, expected);
    }
    EXPECT_GE(failingRuns, 3);
    instance.deinit();
    EXPECT_EQ(memory_.liveBlocks(), 0u);
}

TEST_F(CallbackMemory, CopyFailsAtEveryAllocationSafely) {
    const auto expected = crest::testing::enlarge(picture_).pixels;
    InstanceDriver original(descriptor_);
    ASSERT_EQ(original.init(), 0);
    ASSERT_EQ(original.enlarge(picture_, false).result, 0);
    const std::size_t liveBefore = memory_.liveBlocks();
    int failedCopies = 0;
    for (int n = 1;; ++n) {
        InstanceDriver copy(descriptor_);
        const int failuresBefore = memory_.failures();
        memory_.failFrom(n);
        descriptor_.copyCallback(&original.context, &testing::fakeHostFunctions(), copy.memory.data());
        const bool failed = memory_.failures() > failuresBefore;
        memory_.failNone();
        const auto frame = copy.enlarge(picture_);
        if (failed) {
            ++failedCopies;
            EXPECT_NE(frame.result, 0) << "a copy that could not be built reports failure, copy failing at " << n;
        } else {
            EXPECT_EQ(frame.result, 0);
            EXPECT_EQ(frame.pixels, expected);
        }
        copy.deinit();
        EXPECT_EQ(memory_.liveBlocks(), liveBefore) << "failing allocation " << n;
        if (!failed) break;
    }
    EXPECT_GE(failedCopies, 4) << "sentinel and three caches";
    original.deinit();
}

}  // namespace
}  // namespace crest

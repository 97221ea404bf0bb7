#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <set>

#include "engine/enlarger_state.h"
#include "tests/support/test_allocator.h"

namespace crest {
namespace {

using testing::TestAllocator;

std::vector<MomentRecord*> blocksOf(const EnlargerState& state) {
    std::vector<MomentRecord*> firstRecords;
    for (MomentBlock* block = state.blockList->next; block != state.blockList; block = block->next)
        firstRecords.push_back(&block->records[0]);
    return firstRecords;
}

void expectListIsConsistent(const EnlargerState& state) {
    std::size_t forward = 0;
    for (MomentBlock* block = state.blockList->next; block != state.blockList; block = block->next) {
        ASSERT_EQ(block->next->prev, block);
        ++forward;
    }
    EXPECT_EQ(forward, state.blockCount);
    EXPECT_EQ(state.blockList->prev->next, state.blockList);
}

TEST(RecordPool, FreshStateAppendsItsFirstBlockOnTheFirstTake) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    EXPECT_EQ(memory.allocations(), 1) << "construction allocates the sentinel only";
    state.rewindPool();
    EXPECT_EQ(state.currentBlock, state.blockList);
    EXPECT_EQ(state.blockUsed, 1024);
    MomentRecord* first = state.takeRecord();
    EXPECT_EQ(state.blockCount, 1u);
    EXPECT_EQ(first, blocksOf(state)[0]);
    EXPECT_EQ(state.blockUsed, 1);
    expectListIsConsistent(state);
}

TEST(RecordPool, HandsOutRecordsInOrderAndGrowsOnlyWhenFull) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    state.rewindPool();
    MomentRecord* first = state.takeRecord();
    for (int i = 1; i < 1024; ++i) ASSERT_EQ(state.takeRecord(), first + i);
    EXPECT_EQ(state.blockCount, 1u);
    MomentRecord* next = state.takeRecord();
    EXPECT_EQ(state.blockCount, 2u);
    EXPECT_EQ(next, blocksOf(state)[1]);
    expectListIsConsistent(state);
}

TEST(RecordPool, RewoundPoolReusesItsBlocksWithoutAllocating) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    state.rewindPool();
    for (int i = 0; i < 3 * 1024; ++i) state.takeRecord();
    ASSERT_EQ(state.blockCount, 3u);
    const auto blocks = blocksOf(state);
    const int allocationsBefore = memory.allocations();

    state.rewindPool();
    state.rewindPool();  // twice in a row changes nothing
    for (int i = 0; i < 2500; ++i) {
        MomentRecord* record = state.takeRecord();
        ASSERT_EQ(record, blocks[static_cast<std::size_t>(i / 1024)] + i % 1024) << "take " << i;
    }
    EXPECT_EQ(state.blockUsed, 2500 - 2048);
    EXPECT_EQ(memory.allocations(), allocationsBefore);
    EXPECT_EQ(state.blockCount, 3u);
}

TEST(RecordPool, ReleaseBlocksKeepsOnlyTheSentinel) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    state.rewindPool();
    for (int i = 0; i < 2049; ++i) state.takeRecord();
    ASSERT_EQ(state.blockCount, 3u);
    state.releaseBlocks();
    EXPECT_EQ(state.blockCount, 0u);
    EXPECT_EQ(state.blockList->next, state.blockList);
    EXPECT_EQ(state.blockList->prev, state.blockList);
    EXPECT_EQ(memory.liveBlocks(), 1u);
    state.rewindPool();
    EXPECT_EQ(state.currentBlock, state.blockList);
    EXPECT_EQ(state.blockUsed, 1024);
    EXPECT_NE(state.takeRecord(), nullptr);
    EXPECT_EQ(state.blockCount, 1u);
}

TEST(RecordPool, FailedGrowthLeavesThePoolUsable) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    state.rewindPool();
    for (int i = 0; i < 1024; ++i) state.takeRecord();
    memory.failFrom(1);
    EXPECT_THROW(state.takeRecord(), std::bad_alloc);
    EXPECT_EQ(state.blockCount, 1u);
    expectListIsConsistent(state);
    memory.failNone();
    MomentRecord* record = state.takeRecord();
    EXPECT_EQ(record, blocksOf(state).back());
    EXPECT_EQ(state.blockCount, 2u);
}

TEST(RecordPool, DestructionFreesEverything) {
    TestAllocator memory;
    {
        EnlargerState state(memory.allocator());
        state.rewindPool();
        for (int i = 0; i < 5000; ++i) state.takeRecord();
        state.prepareCaches(100);
    }
    EXPECT_EQ(memory.liveBlocks(), 0u);
    EXPECT_EQ(memory.foreignReleases_, 0);
}

TEST(RecordPool, ConstructionFailureThrowsAndLeavesNothing) {
    TestAllocator memory;
    memory.failFrom(1);
    EXPECT_THROW(EnlargerState state(memory.allocator()), std::bad_alloc);
    EXPECT_EQ(memory.liveBlocks(), 0u);
}

TEST(LevelCaches, PrepareResizesToExactlyNNullEntries) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    MomentRecord dummy{};
    for (std::int32_t n : {10, 4, 25, 25, 0, 7}) {
        for (LevelCache& cache : state.levelCache)
            for (std::int32_t i = 0; i < cache.length; ++i) cache.entries[i] = &dummy;
        state.prepareCaches(n);
        for (const LevelCache& cache : state.levelCache) {
            ASSERT_EQ(cache.length, n);
            ASSERT_GE(cache.capacity, n);
            for (std::int32_t i = 0; i < n; ++i) ASSERT_EQ(cache.entries[i], nullptr) << "n " << n << " entry " << i;
        }
    }
}

TEST(LevelCaches, KeepStorageThatIsLargeEnough) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    state.prepareCaches(1000);
    const int allocations = memory.allocations();
    state.prepareCaches(10);
    state.prepareCaches(1000);
    EXPECT_EQ(memory.allocations(), allocations);
    state.prepareCaches(1001);
    EXPECT_EQ(memory.allocations(), allocations + 3);
}

TEST(LevelCaches, ClearNullsEveryEntryAndKeepsLengths) {
    EnlargerState state;
    state.prepareCaches(64);
    MomentRecord dummy{};
    for (LevelCache& cache : state.levelCache)
        for (std::int32_t i = 0; i < cache.length; ++i) cache.entries[i] = &dummy;
    state.clearCaches();
    for (const LevelCache& cache : state.levelCache) {
        EXPECT_EQ(cache.length, 64);
        for (std::int32_t i = 0; i < cache.length; ++i) ASSERT_EQ(cache.entries[i], nullptr);
    }
}

TEST(LevelCaches, ReleaseFreesTheStorage) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    state.prepareCaches(64);
    EXPECT_EQ(memory.liveBlocks(), 4u);
    state.releaseCaches();
    EXPECT_EQ(memory.liveBlocks(), 1u);
    for (const LevelCache& cache : state.levelCache) {
        EXPECT_EQ(cache.length, 0);
        EXPECT_EQ(cache.entries, nullptr);
    }
}

TEST(LevelCaches, FailedGrowthLeavesTheCacheAsItWas) {
    TestAllocator memory;
    EnlargerState state(memory.allocator());
    state.prepareCaches(16);
    memory.failFrom(1);
    EXPECT_THROW(state.prepareCaches(32), std::bad_alloc);
    EXPECT_EQ(state.levelCache[0].length, 16);
    memory.failNone();
    state.prepareCaches(32);
    EXPECT_EQ(state.levelCache[2].length, 32);
}

TEST(StateCopy, OwnsAsManyBlocksAndCacheEntriesAsItsSource) {
    TestAllocator memory;
    auto source = std::make_unique<EnlargerState>(memory.allocator());
    source->rewindPool();
    for (int i = 0; i < 3000; ++i) source->takeRecord();
    source->prepareCaches(50);
    source->pitch = 1234;
    source->halfWidth = 77;
    source->levelStep[2][3] = -99;

    EnlargerState copy(*source);
    EXPECT_EQ(copy.blockCount, 3u);
    EXPECT_EQ(copy.pitch, 1234);
    EXPECT_EQ(copy.halfWidth, 77);
    EXPECT_EQ(copy.levelStep[2][3], -99);
    EXPECT_EQ(copy.blockUsed, source->blockUsed);
    for (const LevelCache& cache : copy.levelCache) EXPECT_EQ(cache.length, 50);

    std::set<MomentRecord*> sourceBlocks;
    for (MomentRecord* first : blocksOf(*source)) sourceBlocks.insert(first);
    for (MomentRecord* first : blocksOf(copy)) EXPECT_EQ(sourceBlocks.count(first), 0u) << "blocks are not shared";

    source.reset();
    copy.rewindPool();
    for (int i = 0; i < 3 * 1024 + 1; ++i) copy.takeRecord();
    EXPECT_EQ(copy.blockCount, 4u);
    expectListIsConsistent(copy);
}

TEST(StateCopy, FailureFreesWhatWasBuiltAndThrows) {
    TestAllocator memory;
    EnlargerState source(memory.allocator());
    source.rewindPool();
    for (int i = 0; i < 2500; ++i) source.takeRecord();
    source.prepareCaches(10);
    const std::size_t live = memory.liveBlocks();
    // Sentinel, three blocks and three caches: fail each in turn.
    for (int n = 1; n <= 7; ++n) {
        memory.failFrom(n);
        EXPECT_THROW(EnlargerState copy(source), std::bad_alloc) << "failing allocation " << n;
        memory.failNone();
        EXPECT_EQ(memory.liveBlocks(), live) << "failing allocation " << n;
    }
    memory.failFrom(8);
    EXPECT_NO_THROW(EnlargerState copy(source));
}

TEST(DetachedState, HoldsNothingAndDestroysSafely) {
    TestAllocator memory;
    {
        EnlargerState state(EnlargerState::Detached{}, memory.allocator());
        EXPECT_FALSE(state.hasPool());
        state.releaseCaches();
        state.releaseBlocks();
    }
    EXPECT_EQ(memory.allocations(), 0);
    EXPECT_EQ(memory.releases(), 0);
}

struct PackedCase {
    int x, y;
    std::uint32_t word;
};

TEST(Positions, PackedCoordEncodesRelativeToPixelTwoTwo) {
    const PackedCase cases[] = {{2, 2, 0x40004000u}, {0, 0, 0x3FFE3FFEu}, {3, 2, 0x40004001u}, {2, 3, 0x40014000u}};
    for (const PackedCase& c : cases) {
        EXPECT_EQ(static_cast<std::uint32_t>(packedCoordOf(c.x, c.y)), c.word) << c.x << "," << c.y;
        EXPECT_EQ(unpackU(packedCoordOf(c.x, c.y)), c.x - 2);
        EXPECT_EQ(unpackV(packedCoordOf(c.x, c.y)), c.y - 2);
    }
    EXPECT_EQ(packedAdd(packedCoordOf(2, 2), packedStep(-1, -1)), packedCoordOf(1, 1));
}

TEST(Positions, PackedStepsStayExactAcrossTheSupportedRange) {
    // Inner coordinates the pyramid can visit: -4 <= u <= W - 1, -4 <= v <= H - 1.
    const int us[] = {-4, -1, 0, 1, 100, kMaxDestinationWidth - 5, kMaxDestinationWidth - 1};
    const int vs[] = {-4, -1, 0, 1, 100, kMaxDestinationHeight - 5, kMaxDestinationHeight - 1};
    auto inRange = [](int u, int v) {
        return u >= -4 && u <= kMaxDestinationWidth - 1 && v >= -4 && v <= kMaxDestinationHeight - 1;
    };
    int checked = 0;
    for (int u : us)
        for (int v : vs)
            for (int dx = -1; dx <= 1; ++dx)
                for (int dy = -1; dy <= 1; ++dy) {
                    const int fromU = u - 4 * dx, fromV = v - 4 * dy;
                    if (!inRange(fromU, fromV)) continue;
                    const PackedCoord moved = packedAdd(packInner(fromU, fromV), packedStep(4 * dx, 4 * dy));
                    ASSERT_EQ(unpackU(moved), u) << u << "," << v;
                    ASSERT_EQ(unpackV(moved), v) << u << "," << v;
                    ++checked;
                }
    EXPECT_GT(checked, 300);
}

TEST(Positions, CellIndexIsSharedByColumnPairs) {
    for (int y : {0, 1, 7})
        for (int m : {0, 1, 5}) {
            EXPECT_EQ(cellIndexOf(2 * m, y, 10), cellIndexOf(2 * m + 1, y, 10));
            EXPECT_EQ(cellIndexOf(2 * m, y, 10), y * 10 + m);
        }
}

TEST(Positions, DirectionStepsHoldForBothPitchSigns) {
    for (std::int32_t pitch : {12, 24, 4096, 4100, -12, -24, -4096, -4100}) {
        const NeighborSet diagonal = diagonalNeighbors(pitch);
        const NeighborSet axial = axialNeighbors(pitch);
        const DirectionStep expectedDiagonal[4] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
        const DirectionStep expectedAxial[4] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}};
        for (int j = 0; j < 4; ++j) {
            const DirectionStep d = directionStepOf(diagonal.offset[j], pitch);
            const DirectionStep a = directionStepOf(axial.offset[j], pitch);
            EXPECT_EQ(d.dx, expectedDiagonal[j].dx) << "pitch " << pitch << " j " << j;
            EXPECT_EQ(d.dy, expectedDiagonal[j].dy) << "pitch " << pitch << " j " << j;
            EXPECT_EQ(a.dx, expectedAxial[j].dx) << "pitch " << pitch << " j " << j;
            EXPECT_EQ(a.dy, expectedAxial[j].dy) << "pitch " << pitch << " j " << j;
        }
    }
}

}  // namespace
}  // namespace crest

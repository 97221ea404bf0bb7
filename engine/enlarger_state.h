// The per-instance engine state: frame geometry, the running pass's direction
// tables, the record pool and the three level caches.
#pragma once

#include <cstdint>

#include "engine/engine_allocator.h"
#include "engine/moment_record.h"
#include "engine/positions.h"

namespace crest {

// Memoised records of one pyramid level, indexed by CellIndex; null means
// "not computed in this pass". The entries do not own their records.
struct LevelCache {
    MomentRecord** entries;
    std::int32_t length;
    std::int32_t capacity;
    const EngineAllocator* allocator;
};

class EnlargerState {
public:
    static constexpr int kLevelCount = 3;

    // Allocates the block list's sentinel; throws std::bad_alloc if it cannot.
    explicit EnlargerState(const EngineAllocator& allocator = systemAllocator());

    // A state holding no memory at all: it frees nothing when destroyed and its
    // frames fail. The instance callbacks leave one behind when construction
    // or copying runs out of memory, so the host's later calls stay safe.
    struct Detached {};
    EnlargerState(Detached, const EngineAllocator& allocator) noexcept;

    // Builds a pool with as many blocks as the source's (records not copied)
    // and caches of the source's lengths. All or nothing: on failure it frees
    // what it built and throws std::bad_alloc.
    EnlargerState(const EnlargerState& source);
    EnlargerState& operator=(const EnlargerState&) = delete;
    ~EnlargerState();

    bool hasPool() const { return blockList != nullptr; }

    // Hands out the next record of the pool; only a block change leaves line.
    MomentRecord* takeRecord() {
        if (blockUsed >= MomentBlock::kRecords) return takeFromNextBlock();
        return &currentBlock->records[blockUsed++];
    }
    // Moves to the next block, appending one at the tail when none is left.
    virtual MomentRecord* takeFromNextBlock();
    void rewindPool();
    void releaseBlocks();

    void prepareCaches(std::int32_t entryCount);
    void clearCaches();
    void releaseCaches();

    // The storage of level cache `level` as room for `words` 32-bit words:
    // the passes keep their statistics bands there. The cache's length
    // becomes the number of entries that room takes; the storage grows only
    // when it is too small (std::bad_alloc on failure, leaving the cache as
    // it was).
    std::int32_t* bandStorage(int level, std::int32_t words);

    // Scratch level-3 record filled by the pyramid's interior path.
    MomentRecord windowSum;
    // [k][j]: CellIndex change of a move by 2^k steps in direction j (k >= 1).
    std::int32_t levelStep[4][4];
    // Byte offset from a training sample to its neighbour in direction j.
    std::int32_t trainOffset[4];
    // PackedCoord change of one step in direction j.
    PackedCoord dirPacked[4];
    std::uint8_t* origin;  // destination pixel (2, 2)
    std::int32_t pitch;
    std::int32_t innerWidth;
    std::int32_t innerHeight;
    std::int32_t halfWidth;
    std::int32_t blockUsed;
    MomentBlock* blockList;  // the sentinel of the circular block list
    std::uint32_t blockCount;
    const EngineAllocator* blockAllocator;
    MomentBlock* currentBlock;
    LevelCache levelCache[kLevelCount];

private:
    MomentBlock* appendBlock();
    void freeAllMemory() noexcept;
};

static_assert(sizeof(void*) != 4 || sizeof(EnlargerState) == 244,
              "the host reserves 244 bytes of instance memory per filter instance");

}  // namespace crest

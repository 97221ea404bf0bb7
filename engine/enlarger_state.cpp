#include "engine/enlarger_state.h"

#include <algorithm>
#include <new>

namespace crest {

namespace {

MomentBlock* allocateBlock(const EngineAllocator& allocator) {
    return static_cast<MomentBlock*>(allocateOrThrow(allocator, sizeof(MomentBlock)));
}

LevelCache emptyCache(const EngineAllocator& allocator) { return LevelCache{nullptr, 0, 0, &allocator}; }

void freeCacheStorage(LevelCache& cache) noexcept {
    if (cache.entries != nullptr) cache.allocator->release(cache.allocator->context, cache.entries);
    cache.entries = nullptr;
    cache.length = 0;
    cache.capacity = 0;
}

// Resizes to exactly entryCount entries, keeping storage that is large
// enough; the entries' values are left as they are. New storage is allocated
// before the old is freed, so a failure leaves the cache as it was.
void sizeCache(LevelCache& cache, std::int32_t entryCount) {
    if (entryCount > cache.capacity) {
        auto* entries = static_cast<MomentRecord**>(
            allocateOrThrow(*cache.allocator, sizeof(MomentRecord*) * static_cast<std::size_t>(entryCount)));
        freeCacheStorage(cache);
        cache.entries = entries;
        cache.capacity = entryCount;
    }
    cache.length = entryCount;
}

// Resizes to exactly entryCount null entries.
void resizeCache(LevelCache& cache, std::int32_t entryCount) {
    sizeCache(cache, entryCount);
    std::fill_n(cache.entries, cache.length, nullptr);
}

}  // namespace

EnlargerState::EnlargerState(const EngineAllocator& allocator)
    : EnlargerState(Detached{}, allocator) {
    blockList = allocateBlock(allocator);
    blockList->next = blockList;
    blockList->prev = blockList;
    currentBlock = blockList;
}

EnlargerState::EnlargerState(Detached, const EngineAllocator& allocator) noexcept
    : windowSum{},
      levelStep{},
      trainOffset{},
      dirPacked{},
      origin(nullptr),
      pitch(0),
      innerWidth(0),
      innerHeight(0),
      halfWidth(0),
      blockUsed(MomentBlock::kRecords),
      blockList(nullptr),
      blockCount(0),
      blockAllocator(&allocator),
      currentBlock(nullptr),
      levelCache{emptyCache(allocator), emptyCache(allocator), emptyCache(allocator)} {}

EnlargerState::EnlargerState(const EnlargerState& source)
    : EnlargerState(Detached{}, *source.blockAllocator) {
    copyRecord(windowSum, source.windowSum);
    std::copy(&source.levelStep[0][0], &source.levelStep[0][0] + 16, &levelStep[0][0]);
    std::copy(source.trainOffset, source.trainOffset + 4, trainOffset);
    std::copy(source.dirPacked, source.dirPacked + 4, dirPacked);
    origin = source.origin;
    pitch = source.pitch;
    innerWidth = source.innerWidth;
    innerHeight = source.innerHeight;
    halfWidth = source.halfWidth;
    blockUsed = source.blockUsed;
    // A throw below still runs the destructor, which frees what was built.
    if (source.hasPool()) {
        blockList = allocateBlock(*blockAllocator);
        blockList->next = blockList;
        blockList->prev = blockList;
        currentBlock = blockList;
        for (std::uint32_t i = 0; i < source.blockCount; ++i) appendBlock();
    }
    for (int level = 0; level < kLevelCount; ++level) {
        levelCache[level].allocator = source.levelCache[level].allocator;
        resizeCache(levelCache[level], source.levelCache[level].length);
    }
}

EnlargerState::~EnlargerState() { freeAllMemory(); }

void EnlargerState::freeAllMemory() noexcept {
    releaseCaches();
    releaseBlocks();
    if (blockList != nullptr) blockAllocator->release(blockAllocator->context, blockList);
    blockList = nullptr;
    currentBlock = nullptr;
    blockCount = 0;
}

MomentBlock* EnlargerState::appendBlock() {
    MomentBlock* block = allocateBlock(*blockAllocator);
    MomentBlock* last = blockList->prev;
    block->prev = last;
    block->next = blockList;
    last->next = block;
    blockList->prev = block;
    ++blockCount;
    return block;
}

MomentRecord* EnlargerState::takeFromNextBlock() {
    MomentBlock* next = currentBlock == blockList ? blockList : currentBlock->next;
    // Appending first keeps the pool unchanged if the allocation fails.
    if (next == blockList) next = appendBlock();
    currentBlock = next;
    blockUsed = 1;
    return &next->records[0];
}

void EnlargerState::rewindPool() {
    currentBlock = blockList->next;
    blockUsed = currentBlock == blockList ? MomentBlock::kRecords : 0;
}

void EnlargerState::releaseBlocks() {
    if (blockList == nullptr) return;
    MomentBlock* block = blockList->next;
    while (block != blockList) {
        MomentBlock* following = block->next;
        blockList->next = following;
        following->prev = blockList;
        blockAllocator->release(blockAllocator->context, block);
        --blockCount;
        block = following;
    }
}

void EnlargerState::prepareCaches(std::int32_t entryCount) {
    for (LevelCache& cache : levelCache) resizeCache(cache, entryCount);
}

std::int32_t* EnlargerState::bandStorage(int level, std::int32_t words) {
    const std::size_t bytes = sizeof(std::int32_t) * static_cast<std::size_t>(words);
    sizeCache(levelCache[level],
              static_cast<std::int32_t>((bytes + sizeof(MomentRecord*) - 1) / sizeof(MomentRecord*)));
    return reinterpret_cast<std::int32_t*>(levelCache[level].entries);
}

void EnlargerState::clearCaches() {
    for (LevelCache& cache : levelCache) std::fill_n(cache.entries, cache.length, nullptr);
}

void EnlargerState::releaseCaches() {
    for (LevelCache& cache : levelCache) freeCacheStorage(cache);
}

}  // namespace crest

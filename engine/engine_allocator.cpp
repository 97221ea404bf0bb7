#include "engine/engine_allocator.h"

#include <cstdlib>
#include <new>

namespace crest {

namespace {
void* systemAllocate(void*, std::size_t bytes) { return std::malloc(bytes); }
void systemRelease(void*, void* memory) { std::free(memory); }
constexpr EngineAllocator kSystemAllocator{systemAllocate, systemRelease, nullptr};
}  // namespace

const EngineAllocator& systemAllocator() { return kSystemAllocator; }

void* allocateOrThrow(const EngineAllocator& allocator, std::size_t bytes) {
    void* memory = allocator.allocate(allocator.context, bytes);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace crest

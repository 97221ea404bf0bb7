// Where the engine's pool blocks and cache storage come from.
#pragma once

#include <cstddef>

namespace crest {

// A replaceable allocator, so hosts and tests can supply their own memory or
// make allocation fail on demand. allocate returns null on failure.
struct EngineAllocator {
    void* (*allocate)(void* context, std::size_t bytes);
    void (*release)(void* context, void* memory);
    void* context;
};

// malloc and free.
const EngineAllocator& systemAllocator();

// Allocates through the allocator, throwing std::bad_alloc on failure; the
// frame driver and the instance callbacks turn that into a result code.
void* allocateOrThrow(const EngineAllocator& allocator, std::size_t bytes);

}  // namespace crest

// The seven per-instance callbacks the filter descriptor lists, and the
// module's registration record.
#pragma once

#include <cstdint>

#include "engine/engine_allocator.h"
#include "host/host_interface.h"

namespace crest {

// Run result when the context carries no instance memory.
inline constexpr std::int32_t kRunWithoutInstance = 3;

// Constructs an EnlargerState in the instance memory: 0 on success, 1 when it
// runs out of memory (the memory then holds a state that deinit frees safely).
std::int32_t FILTER_CDECL initInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept;
void FILTER_CDECL deinitInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept;
// Enlarges the context's source into its destination: 0, or nonzero when the
// frame could not be produced.
std::int32_t FILTER_CDECL runInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept;
// Doubles the destination's width and height, then tells the bitmap (slot 4).
std::int32_t FILTER_CDECL sizeInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept;
std::int32_t FILTER_CDECL startInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept;
// Frees the pool's blocks and the caches' storage; the state stays usable.
std::int32_t FILTER_CDECL endInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept;
// Copies the state into fresh instance memory. Out of memory, the new memory
// gets a state that frees safely and whose frames report failure.
void FILTER_CDECL copyInstance(const FilterCallContext* context, const HostFilterFunctions*,
                               void* newInstanceData) noexcept;

// Where new instances take their memory from; null restores the system
// allocator. Lets tests make allocation fail on demand.
void setInstanceAllocator(const EngineAllocator* allocator);

// The registration record handed to the host.
FilterDescriptor& filterDescriptor();

}  // namespace crest

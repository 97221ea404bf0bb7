#include "host/instance_callbacks.h"

#include <new>

#include "engine/enlarger.h"

namespace crest {

namespace {

const EngineAllocator* instanceAllocator = nullptr;

const EngineAllocator& currentAllocator() {
    return instanceAllocator != nullptr ? *instanceAllocator : systemAllocator();
}

EnlargerState* stateOf(const FilterCallContext* context) {
    return context != nullptr ? static_cast<EnlargerState*>(context->instanceData) : nullptr;
}

}  // namespace

void setInstanceAllocator(const EngineAllocator* allocator) { instanceAllocator = allocator; }

std::int32_t FILTER_CDECL initInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept {
    void* memory = context != nullptr ? context->instanceData : nullptr;
    if (memory == nullptr) return 0;
    try {
        new (memory) EnlargerState(currentAllocator());
        return 0;
    } catch (...) {
        // Hosts may still call deinit; leave something it can destroy.
        new (memory) EnlargerState(EnlargerState::Detached{}, currentAllocator());
        return 1;
    }
}

void FILTER_CDECL deinitInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept {
    if (EnlargerState* state = stateOf(context)) state->~EnlargerState();
}

std::int32_t FILTER_CDECL runInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept {
    EnlargerState* state = stateOf(context);
    if (state == nullptr) return kRunWithoutInstance;
    if (context->destination == nullptr || context->source == nullptr)
        return static_cast<std::int32_t>(EnlargeStatus::invalidGeometry);
    HostBitmap& destination = *context->destination;
    const HostBitmap& source = *context->source;
    if (destination.width > 0 && destination.height > 0)
        destination.fillRectangle(0, 0, destination.width, destination.height, kMarkerPixel);
    return enlargeFrame(*state, FrameView{static_cast<std::uint8_t*>(destination.pixels), destination.width,
                                          destination.height, destination.pitch},
                        ConstFrameView{static_cast<const std::uint8_t*>(source.pixels), source.width, source.height,
                                       source.pitch});
}

std::int32_t FILTER_CDECL sizeInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept {
    if (context == nullptr || context->destination == nullptr) return 1;
    HostBitmap& destination = *context->destination;
    // Doubled with wrap-around rather than overflow; the frame driver rejects
    // sizes it cannot hold.
    destination.width = static_cast<std::int32_t>(static_cast<std::uint32_t>(destination.width) * 2u);
    destination.height = static_cast<std::int32_t>(static_cast<std::uint32_t>(destination.height) * 2u);
    destination.notifySizeChanged();
    return 1;
}

std::int32_t FILTER_CDECL startInstance(const FilterCallContext*, const HostFilterFunctions*) noexcept { return 0; }

std::int32_t FILTER_CDECL endInstance(const FilterCallContext* context, const HostFilterFunctions*) noexcept {
    if (EnlargerState* state = stateOf(context)) {
        state->releaseCaches();
        state->releaseBlocks();
    }
    return 0;
}

void FILTER_CDECL copyInstance(const FilterCallContext* context, const HostFilterFunctions*,
                               void* newInstanceData) noexcept {
    const EnlargerState* source = stateOf(context);
    if (newInstanceData == nullptr || source == nullptr) return;
    try {
        new (newInstanceData) EnlargerState(*source);
    } catch (...) {
        new (newInstanceData) EnlargerState(EnlargerState::Detached{}, *source->blockAllocator);
    }
}

FilterDescriptor& filterDescriptor() {
    static constinit FilterDescriptor descriptor = {
        {nullptr, nullptr, nullptr},
        "crestdoubler",
        "Performs a 2:1 enlargement on an image while preserving edges, using the Li-Orchard algorithm.",
        "Orlenwick",
        nullptr,
        sizeof(EnlargerState),
        initInstance,
        deinitInstance,
        runInstance,
        sizeInstance,
        nullptr,
        nullptr,
        startInstance,
        endInstance,
        {nullptr, nullptr, nullptr, nullptr, nullptr},
        copyInstance,
    };
    return descriptor;
}

}  // namespace crest

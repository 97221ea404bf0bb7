// A minimal host for driving the module's entry points and callbacks in tests.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/hosting/frame_bitmap.h"
#include "host/host_interface.h"
#include "tests/support/picture_generator.h"

namespace crest::testing {

// Records every add and remove call the module makes.
struct HostCalls {
    int adds = 0;
    int removes = 0;
    void* addModule = nullptr;
    FilterDescriptor* addDescriptor = nullptr;
    std::int32_t addSize = 0;
    FilterHandle handleToReturn = nullptr;
    FilterHandle removedHandle = nullptr;
};

// One at a time: the table's operations are plain functions.
HostCalls& hostCalls();
const HostFilterFunctions& fakeHostFunctions();

// A bitmap that remembers the size it had each time the module told it that
// the size changed.
class ProbeBitmap final : public HostBitmap {
public:
    ProbeBitmap(std::int32_t w, std::int32_t h) {
        width = w;
        height = h;
        allocate();
    }
    std::int32_t notifySizeChanged() override {
        notifiedSizes.push_back({width, height});
        allocate();
        return 0;
    }
    void fillRectangle(std::int32_t, std::int32_t, std::int32_t w, std::int32_t h, std::uint32_t value) override {
        for (std::int32_t y = 0; y < h && y < height; ++y)
            for (std::int32_t x = 0; x < w && x < width; ++x) storage[static_cast<std::size_t>(y) * width + x] = value;
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> notifiedSizes;
    std::vector<std::uint32_t> storage;

private:
    void allocate() {
        storage.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
        pixels = storage.data();
        pitch = 4 * width;
    }
};

// Drives one instance through init, and per frame size, start, run and end.
struct InstanceDriver {
    const FilterDescriptor& descriptor;
    std::vector<std::uint8_t> memory;
    FilterCallContext context{};

    explicit InstanceDriver(const FilterDescriptor& d) : descriptor(d), memory(d.instanceDataSize + 16, 0xCD) {
        context.instanceData = memory.data();
    }
    std::int32_t init() { return descriptor.initCallback(&context, &fakeHostFunctions()); }
    void deinit() { descriptor.deinitCallback(&context, &fakeHostFunctions()); }

    struct Frame {
        std::int32_t result;
        std::vector<std::uint32_t> pixels;
    };
    // Size, start, run and (optionally) end for one picture.
    Frame enlarge(const pictures::Picture& picture, bool end = true);
};

}  // namespace crest::testing

// Modules that break the host contract in one way each, to test the command's checks.
// FAKE_MODULE_KIND selects the fault.
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "host/host_interface.h"

#define FAKE_NO_ENTRY_POINTS 1
#define FAKE_WRONG_VERSION 2
#define FAKE_REGISTERS_NOTHING 3
#define FAKE_RUN_FAILS 4
// Nearest-neighbour copies whose timing and failure the frames choose: the
// top byte of a frame's first pixel is a delay in milliseconds, or 0xFF to fail.
#define FAKE_SCRIPTED 5

#define FAKE_EXPORT __attribute__((visibility("default")))

namespace {

using crest::FilterCallContext;
using crest::HostFilterFunctions;

std::int32_t FILTER_CDECL succeed(const FilterCallContext*, const HostFilterFunctions*) { return 0; }
void FILTER_CDECL doNothing(const FilterCallContext*, const HostFilterFunctions*) {}
std::int32_t FILTER_CDECL failToRun(const FilterCallContext*, const HostFilterFunctions*) { return 2; }
std::int32_t FILTER_CDECL runScripted(const FilterCallContext* context, const HostFilterFunctions*) {
    const crest::HostBitmap& source = *context->source;
    crest::HostBitmap& destination = *context->destination;
    auto word = [](const crest::HostBitmap& bitmap, std::int32_t x, std::int32_t y) {
        return static_cast<std::uint8_t*>(bitmap.pixels) + static_cast<std::ptrdiff_t>(y) * bitmap.pitch + 4 * x;
    };
    const std::uint8_t delay = word(source, 0, 0)[3];
    if (delay == 0xFF) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    for (std::int32_t y = 0; y < destination.height; ++y)
        for (std::int32_t x = 0; x < destination.width; ++x)
            std::memcpy(word(destination, x, y), word(source, x / 2, y / 2), 4);
    return 0;
}
std::int32_t FILTER_CDECL doubleDestination(const FilterCallContext* context, const HostFilterFunctions*) {
    context->destination->width *= 2;
    context->destination->height *= 2;
    context->destination->notifySizeChanged();
    return 1;
}

crest::FilterDescriptor descriptor = {
    {nullptr, nullptr, nullptr},
    "fake",
    "a module that breaks the host contract",
    "tests",
    nullptr,
    16,
    succeed,
    doNothing,
    FAKE_MODULE_KIND == FAKE_SCRIPTED ? runScripted : failToRun,
    doubleDestination,
    nullptr,
    nullptr,
    succeed,
    succeed,
    {nullptr, nullptr, nullptr, nullptr, nullptr},
    nullptr,
};

}  // namespace

extern "C" {

#if FAKE_MODULE_KIND == FAKE_NO_ENTRY_POINTS
FAKE_EXPORT std::int32_t unrelatedFunction() { return static_cast<std::int32_t>(sizeof descriptor); }
#else
FAKE_EXPORT std::int32_t FILTER_CDECL CinderpaneFilterModuleCheckVersion() {
    return FAKE_MODULE_KIND == FAKE_WRONG_VERSION ? 8 : crest::kHostInterfaceVersion;
}

FAKE_EXPORT std::int32_t FILTER_CDECL CinderpaneFilterModuleInit2(void* module, const HostFilterFunctions* functions,
                                                                 std::int32_t*, std::int32_t*) {
    if (FAKE_MODULE_KIND != FAKE_REGISTERS_NOTHING)
        functions->addFilter(module, &descriptor, static_cast<std::int32_t>(sizeof descriptor));
    return 0;
}

FAKE_EXPORT void FILTER_CDECL CinderpaneFilterModuleDeinit(void*, const HostFilterFunctions*) {}
#endif
}

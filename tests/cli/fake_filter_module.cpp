// Modules that break the host contract in one way each, to test the command's checks.
// FAKE_MODULE_KIND selects the fault.
#include <cstdint>

#include "host/host_interface.h"

#define FAKE_NO_ENTRY_POINTS 1
#define FAKE_WRONG_VERSION 2
#define FAKE_REGISTERS_NOTHING 3
#define FAKE_RUN_FAILS 4

#define FAKE_EXPORT __attribute__((visibility("default")))

namespace {

using crest::FilterCallContext;
using crest::HostFilterFunctions;

std::int32_t FILTER_CDECL succeed(const FilterCallContext*, const HostFilterFunctions*) { return 0; }
void FILTER_CDECL doNothing(const FilterCallContext*, const HostFilterFunctions*) {}
std::int32_t FILTER_CDECL failToRun(const FilterCallContext*, const HostFilterFunctions*) { return 2; }
std::int32_t FILTER_CDECL doubleDestination(const FilterCallContext* context, const HostFilterFunctions*) {
    context->destination->width *= 2;
    context->destination->height *= 2;
    context->destination->notifySizeChanged();
    return 1;
}

crest::FilterDescriptor descriptor = {
    {nullptr, nullptr, nullptr}, "fake", "a module whose frames always fail", "tests", nullptr, 16,
    succeed, doNothing, failToRun, doubleDestination, nullptr, nullptr, succeed, succeed,
    {nullptr, nullptr, nullptr, nullptr, nullptr}, nullptr,
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

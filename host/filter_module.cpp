#include "host/filter_module.h"

#include "host/instance_callbacks.h"

namespace {
// Touched only by the entry points, which the host calls one at a time.
crest::FilterHandle filterHandle = nullptr;
}  // namespace

extern "C" {

std::int32_t FILTER_CDECL CinderpaneFilterModuleCheckVersion() { return crest::kHostInterfaceVersion; }

std::int32_t FILTER_CDECL CinderpaneFilterModuleInit2(void* module, const crest::HostFilterFunctions* functions,
                                                      std::int32_t* firstVersion, std::int32_t* secondVersion) {
    crest::FilterDescriptor& descriptor = crest::filterDescriptor();
    if (functions != nullptr && functions->addFilter != nullptr)
        filterHandle = functions->addFilter(module, &descriptor, static_cast<std::int32_t>(sizeof descriptor));
    if (firstVersion != nullptr) *firstVersion = crest::kHostInterfaceVersion;
    if (secondVersion != nullptr) *secondVersion = crest::kHostInterfaceVersion;
    return 0;
}

void FILTER_CDECL CinderpaneFilterModuleDeinit(void*, const crest::HostFilterFunctions* functions) {
    if (filterHandle == nullptr) return;
    if (functions != nullptr && functions->removeFilter != nullptr) functions->removeFilter(filterHandle);
    filterHandle = nullptr;
}
}

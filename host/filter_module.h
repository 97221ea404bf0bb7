// The module's three exported entry points.
#pragma once

#include <cstdint>

#include "host/host_interface.h"

#if defined(_WIN32)
#define FILTER_EXPORT __declspec(dllexport)
#else
#define FILTER_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

// The host interface version the module is built for, 9.
FILTER_EXPORT std::int32_t FILTER_CDECL CinderpaneFilterModuleCheckVersion();

// Registers the filter through the host's add operation, keeps the handle it
// returns, and writes 9 into both version integers. Always returns 0.
FILTER_EXPORT std::int32_t FILTER_CDECL CinderpaneFilterModuleInit2(void* module,
                                                                   const crest::HostFilterFunctions* functions,
                                                                   std::int32_t* firstVersion,
                                                                   std::int32_t* secondVersion);

// Gives the kept handle back through the host's remove operation, once.
FILTER_EXPORT void FILTER_CDECL CinderpaneFilterModuleDeinit(void* module, const crest::HostFilterFunctions* functions);
}

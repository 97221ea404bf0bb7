// The records and operations shared between the filter module and its host.
//
// Every pointer-sized field is one 32-bit word in the 32-bit Windows build the
// host loads; native 64-bit builds keep the same order with wider pointers.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define FILTER_CDECL __cdecl
#elif defined(__i386__)
#define FILTER_CDECL __attribute__((cdecl))
#else
#define FILTER_CDECL
#endif

namespace crest {

inline constexpr std::int32_t kHostInterfaceVersion = 9;
inline constexpr std::uint32_t kMarkerPixel = 0xBAADF00Du;

// A host image object. The module calls two of its virtual operations: slot 4
// after the size callback has changed width and height, and slot 12 to fill a
// rectangle. The other slots exist only to keep those two at their places in
// the host's table; the module never calls them.
class HostBitmap {
public:
    virtual void reservedSlot0() {}
    virtual void reservedSlot1() {}
    virtual void reservedSlot2() {}
    virtual void reservedSlot3() {}
    virtual std::int32_t notifySizeChanged() { return 0; }  // slot 4
    virtual void reservedSlot5() {}
    virtual void reservedSlot6() {}
    virtual void reservedSlot7() {}
    virtual void reservedSlot8() {}
    virtual void reservedSlot9() {}
    virtual void reservedSlot10() {}
    virtual void reservedSlot11() {}
    virtual void fillRectangle(std::int32_t left, std::int32_t top, std::int32_t width,
                               std::int32_t height, std::uint32_t value) = 0;  // slot 12

    void* pixels = nullptr;  // row r starts at pixels + r * pitch bytes
    std::int32_t hostReserved[2] = {0, 0};
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t pitch = 0;  // bytes; negative for bottom-up rows

protected:
    HostBitmap() = default;
    HostBitmap(const HostBitmap&) = default;
    HostBitmap& operator=(const HostBitmap&) = default;
    ~HostBitmap() = default;
};

// First argument of every instance callback.
struct FilterCallContext {
    void* hostReserved;
    void* instanceData;  // the instance's EnlargerState
    HostBitmap* destination;
    HostBitmap* source;
};

using FilterHandle = void*;
struct FilterDescriptor;

// The host's function table: slot 0 registers a filter, slot 1 removes it.
struct HostFilterFunctions {
    FilterHandle(FILTER_CDECL* addFilter)(void* module, FilterDescriptor* descriptor,
                                          std::int32_t descriptorSize);
    std::int32_t(FILTER_CDECL* removeFilter)(FilterHandle handle);
};

using FilterInitCallback = std::int32_t(FILTER_CDECL*)(const FilterCallContext*, const HostFilterFunctions*);
using FilterDeinitCallback = void(FILTER_CDECL*)(const FilterCallContext*, const HostFilterFunctions*);
using FilterRunCallback = std::int32_t(FILTER_CDECL*)(const FilterCallContext*, const HostFilterFunctions*);
using FilterSizeCallback = std::int32_t(FILTER_CDECL*)(const FilterCallContext*, const HostFilterFunctions*);
using FilterStartCallback = std::int32_t(FILTER_CDECL*)(const FilterCallContext*, const HostFilterFunctions*);
using FilterEndCallback = std::int32_t(FILTER_CDECL*)(const FilterCallContext*, const HostFilterFunctions*);
using FilterCopyCallback = void(FILTER_CDECL*)(const FilterCallContext*, const HostFilterFunctions*,
                                               void* newInstanceData);

// The registration record: 22 words, 88 bytes in the 32-bit layout.
struct FilterDescriptor {
    void* hostReserved[3];
    const char* name;
    const char* description;
    const char* maker;
    void* privateData;
    std::uintptr_t instanceDataSize;
    FilterInitCallback initCallback;
    FilterDeinitCallback deinitCallback;
    FilterRunCallback runCallback;
    FilterSizeCallback sizeCallback;
    void* unusedSlot12;
    void* unusedSlot13;
    FilterStartCallback startCallback;
    FilterEndCallback endCallback;
    void* unusedSlots16To20[5];
    FilterCopyCallback copyCallback;
};

static_assert(sizeof(FilterDescriptor) == 22 * sizeof(void*), "the descriptor is 22 words");
static_assert(sizeof(void*) != 4 || sizeof(FilterDescriptor) == 88, "88 bytes in the 32-bit layout");

// The module's exported entry points, as a host resolves them by name.
using CheckVersionEntry = std::int32_t(FILTER_CDECL*)();
using InitEntry = std::int32_t(FILTER_CDECL*)(void* module, const HostFilterFunctions* functions,
                                              std::int32_t* firstVersion, std::int32_t* secondVersion);
using DeinitEntry = void(FILTER_CDECL*)(void* module, const HostFilterFunctions* functions);

inline constexpr const char* kCheckVersionEntryName = "CinderpaneFilterModuleCheckVersion";
inline constexpr const char* kInitEntryName = "CinderpaneFilterModuleInit2";
inline constexpr const char* kDeinitEntryName = "CinderpaneFilterModuleDeinit";

}  // namespace crest

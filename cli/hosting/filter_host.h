// Hosting the module: its registration, and filter instances that enlarge frames.
//
// A FilterModule is loaded once; each FilterInstance is one instance of its
// filter with instance memory of its own. Instances share nothing, so several
// may enlarge frames on separate threads, one frame at a time each.
#pragma once

#include <cstdint>
#include <string>

#include "cli/hosting/frame_bitmap.h"
#include "cli/hosting/module_loader.h"
#include "host/host_interface.h"

namespace crest::cli {

class FilterModule {
public:
    // Loads the module, checks its interface version and registers its filter.
    explicit FilterModule(const std::string& path);
    // Calls the module's deinit entry, then unloads it.
    ~FilterModule();
    FilterModule(const FilterModule&) = delete;
    FilterModule& operator=(const FilterModule&) = delete;

    const FilterDescriptor& descriptor() const { return *registration_.descriptor; }
    const HostFilterFunctions& hostFunctions() const { return hostFunctions_; }
    const std::string& path() const { return library_.path(); }

    // What the host keeps of the module's add-filter call; the module value
    // handed to the init entry points here.
    struct Registration {
        FilterDescriptor* descriptor = nullptr;
        std::int32_t descriptorSize = 0;
        bool removed = false;
    };

private:
    template <typename Entry>
    Entry entryPoint(const char* name) const;

    LoadedLibrary library_;
    HostFilterFunctions hostFunctions_;
    Registration registration_;
    DeinitEntry deinitEntry_ = nullptr;
};

class FilterInstance {
public:
    // Allocates instance memory and runs the init callback.
    explicit FilterInstance(const FilterModule& module);
    // Ends a started run, then runs the deinit callback.
    ~FilterInstance();
    FilterInstance(const FilterInstance&) = delete;
    FilterInstance& operator=(const FilterInstance&) = delete;

    // Enlarges one frame; the result stays valid until the next call, and may
    // be another instance's source. Frames of the size of the previous one
    // reuse the run already started, so a stream allocates nothing after its
    // first frame.
    FrameBitmap& enlarge(FrameBitmap& source, std::int64_t frameNumber);
    // The same into the caller's destination, which the module sizes when a
    // run starts on it (a destination other than the last starts a new run).
    void enlargeInto(FrameBitmap& source, FrameBitmap& destination, std::int64_t frameNumber);

private:
    void startRun(std::int32_t width, std::int32_t height, FrameBitmap& destination);
    void endRun();
    FilterCallContext contextFor(FrameBitmap* source, FrameBitmap* destination);
    void run(FrameBitmap& source, FrameBitmap& destination, std::int64_t frameNumber);

    const FilterModule& module_;
    const FilterDescriptor& descriptor_;
    void* instanceMemory_ = nullptr;
    FrameBitmap destination_{0, 0};
    bool runStarted_ = false;
    std::int32_t runWidth_ = 0;
    std::uint64_t runDestination_ = 0;  // the identity of the bitmap the run was sized on
    std::int32_t runHeight_ = 0;
};

}  // namespace crest::cli

#include "cli/hosting/filter_host.h"

#include <new>

#include "cli/base/command_error.h"

namespace crest::cli {

namespace {

// Instance memory is the module's own object; give it more alignment than any
// of its members could need.
constexpr std::align_val_t kInstanceAlignment{64};
// Far beyond any plausible engine state; a larger figure means a broken record.
constexpr std::uintptr_t kMaxInstanceDataSize = std::uintptr_t{1} << 20;

FilterHandle FILTER_CDECL addFilter(void* module, FilterDescriptor* descriptor, std::int32_t descriptorSize) {
    auto* registration = static_cast<FilterModule::Registration*>(module);
    if (registration == nullptr || descriptor == nullptr) return nullptr;
    if (registration->descriptor == nullptr) {
        registration->descriptor = descriptor;
        registration->descriptorSize = descriptorSize;
    }
    return registration;
}

std::int32_t FILTER_CDECL removeFilter(FilterHandle handle) {
    if (auto* registration = static_cast<FilterModule::Registration*>(handle)) registration->removed = true;
    return 0;
}

}  // namespace

template <typename Entry>
Entry FilterModule::entryPoint(const char* name) const {
    void* address = library_.symbol(name);
    if (address == nullptr)
        throw CommandError("module " + path() + " is not a filter module: it exports no " + name);
    return reinterpret_cast<Entry>(address);
}

FilterModule::FilterModule(const std::string& path) : library_(path), hostFunctions_{addFilter, removeFilter} {
    const auto checkVersion = entryPoint<CheckVersionEntry>(kCheckVersionEntryName);
    const auto initEntry = entryPoint<InitEntry>(kInitEntryName);
    deinitEntry_ = entryPoint<DeinitEntry>(kDeinitEntryName);

    const std::int32_t version = checkVersion();
    if (version != kHostInterfaceVersion)
        throw CommandError("module " + path + " is built for host interface version " + std::to_string(version) +
                           ", this command speaks version " + std::to_string(kHostInterfaceVersion));

    std::int32_t firstVersion = 0;
    std::int32_t secondVersion = 0;
    const std::int32_t initResult = initEntry(&registration_, &hostFunctions_, &firstVersion, &secondVersion);
    // From here on the deinit entry must run, also when the checks below fail.
    try {
        if (initResult != 0)
            throw CommandError("module " + path + " failed to initialise (result " + std::to_string(initResult) + ")");
        if (registration_.descriptor == nullptr)
            throw CommandError("module " + path + " registered no filter");
        if (registration_.descriptorSize != static_cast<std::int32_t>(sizeof(FilterDescriptor)))
            throw CommandError("module " + path + " registered a filter record of " +
                               std::to_string(registration_.descriptorSize) + " bytes, expected " +
                               std::to_string(sizeof(FilterDescriptor)));
        const FilterDescriptor& filter = *registration_.descriptor;
        if (filter.initCallback == nullptr || filter.deinitCallback == nullptr || filter.runCallback == nullptr ||
            filter.sizeCallback == nullptr)
            throw CommandError("module " + path +
                               " registered a filter without its init, deinit, run or size callback");
        if (filter.instanceDataSize == 0 || filter.instanceDataSize > kMaxInstanceDataSize)
            throw CommandError("module " + path + " asks for " + std::to_string(filter.instanceDataSize) +
                               " bytes of instance memory");
    } catch (...) {
        deinitEntry_(&registration_, &hostFunctions_);
        throw;
    }
}

FilterModule::~FilterModule() { deinitEntry_(&registration_, &hostFunctions_); }

FilterInstance::FilterInstance(const FilterModule& module) : module_(module), descriptor_(module.descriptor()) {
    instanceMemory_ = ::operator new(descriptor_.instanceDataSize, kInstanceAlignment);
    const FilterCallContext context = contextFor(nullptr, &destination_);
    const std::int32_t result = descriptor_.initCallback(&context, &module_.hostFunctions());
    if (result != 0) {
        // A failed init leaves nothing for deinit to destroy.
        ::operator delete(instanceMemory_, kInstanceAlignment);
        throw CommandError("module " + module_.path() + " failed to create a filter instance (result " +
                           std::to_string(result) + ")");
    }
}

FilterInstance::~FilterInstance() {
    endRun();
    const FilterCallContext context = contextFor(nullptr, &destination_);
    descriptor_.deinitCallback(&context, &module_.hostFunctions());
    ::operator delete(instanceMemory_, kInstanceAlignment);
}

FilterCallContext FilterInstance::contextFor(FrameBitmap* source, FrameBitmap* destination) {
    return FilterCallContext{nullptr, instanceMemory_, destination, source};
}

void FilterInstance::startRun(std::int32_t width, std::int32_t height, FrameBitmap& destination) {
    // The size callback doubles the destination and tells it through slot 4,
    // which makes the bitmap's storage fit.
    destination.width = width;
    destination.height = height;
    const FilterCallContext context = contextFor(nullptr, &destination);
    descriptor_.sizeCallback(&context, &module_.hostFunctions());
    if (destination.width != 2 * width || destination.height != 2 * height || !destination.storageMatchesSize())
        throw CommandError("module " + module_.path() + " sized a " + std::to_string(width) + "x" +
                           std::to_string(height) + " frame's destination to " + std::to_string(destination.width) +
                           "x" + std::to_string(destination.height) + " instead of twice its size");
    if (descriptor_.startCallback != nullptr) descriptor_.startCallback(&context, &module_.hostFunctions());
    runStarted_ = true;
    runWidth_ = width;
    runHeight_ = height;
    runDestination_ = destination.identity();
}

void FilterInstance::endRun() {
    if (!runStarted_) return;
    runStarted_ = false;
    const FilterCallContext context = contextFor(nullptr, &destination_);
    if (descriptor_.endCallback != nullptr) descriptor_.endCallback(&context, &module_.hostFunctions());
}

void FilterInstance::run(FrameBitmap& source, FrameBitmap& destination, std::int64_t frameNumber) {
    if (!runStarted_ || source.width != runWidth_ || source.height != runHeight_ ||
        destination.identity() != runDestination_) {
        endRun();
        startRun(source.width, source.height, destination);
    }
    const FilterCallContext context = contextFor(&source, &destination);
    const std::int32_t result = descriptor_.runCallback(&context, &module_.hostFunctions());
    if (result != 0)
        throw CommandError("module failed to enlarge frame " + std::to_string(frameNumber) + " (" +
                           std::to_string(source.width) + "x" + std::to_string(source.height) + ", result " +
                           std::to_string(result) + ")");
}

FrameBitmap& FilterInstance::enlarge(FrameBitmap& source, std::int64_t frameNumber) {
    run(source, destination_, frameNumber);
    return destination_;
}

void FilterInstance::enlargeInto(FrameBitmap& source, FrameBitmap& destination, std::int64_t frameNumber) {
    run(source, destination, frameNumber);
}

}  // namespace crest::cli

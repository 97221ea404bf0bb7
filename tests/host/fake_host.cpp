#include "tests/host/fake_host.h"

#include "cli/hosting/frame_bitmap.h"
#include "tests/support/frame_helpers.h"

namespace crest::testing {

namespace {
FilterHandle FILTER_CDECL addFilter(void* module, FilterDescriptor* descriptor, std::int32_t size) {
    HostCalls& calls = hostCalls();
    ++calls.adds;
    calls.addModule = module;
    calls.addDescriptor = descriptor;
    calls.addSize = size;
    return calls.handleToReturn;
}

std::int32_t FILTER_CDECL removeFilter(FilterHandle handle) {
    ++hostCalls().removes;
    hostCalls().removedHandle = handle;
    return 0;
}
}  // namespace

HostCalls& hostCalls() {
    static HostCalls calls;
    return calls;
}

const HostFilterFunctions& fakeHostFunctions() {
    static const HostFilterFunctions functions{addFilter, removeFilter};
    return functions;
}

InstanceDriver::Frame InstanceDriver::enlarge(const pictures::Picture& picture, bool end) {
    FrameBitmap source(picture.width, picture.height);
    for (std::int32_t y = 0; y < picture.height; ++y)
        for (std::int32_t x = 0; x < picture.width; ++x) source.set(x, y, picture.at(x, y));
    FrameBitmap destination(picture.width, picture.height);
    context.source = &source;
    context.destination = &destination;
    descriptor.sizeCallback(&context, &fakeHostFunctions());
    descriptor.startCallback(&context, &fakeHostFunctions());
    Frame frame;
    frame.result = descriptor.runCallback(&context, &fakeHostFunctions());
    for (std::int32_t y = 0; y < destination.height; ++y)
        for (std::int32_t x = 0; x < destination.width; ++x) frame.pixels.push_back(destination.get(x, y));
    if (end) descriptor.endCallback(&context, &fakeHostFunctions());
    context.source = context.destination = nullptr;
    return frame;
}

}  // namespace crest::testing
